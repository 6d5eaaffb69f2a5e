-- Only ASCII letters change: other bytes belong to multi-byte UTF-8 characters.
function main(text)
    return (text:gsub("[A-Z]+", string.lower))
end
