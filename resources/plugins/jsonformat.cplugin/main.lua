local json_format = require("json_format")

-- Text that is not JSON comes back unchanged.
function main(text)
    return json_format.format(text) or text
end
