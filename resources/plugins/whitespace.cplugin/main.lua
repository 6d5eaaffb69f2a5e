-- Full-width (U+3000) and no-break (U+00A0) spaces count as white space too.
function main(text)
    local s = text:gsub("\227\128\128", " "):gsub("\194\160", " ")
    s = s:gsub("[ \t\r\n\v\f]+", " ")
    return (s:gsub("^ ", ""):gsub(" $", ""))
end
