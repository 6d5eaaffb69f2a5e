local named = {
    amp = "&", lt = "<", gt = ">", quot = '"', apos = "'", nbsp = "\194\160",
    copy = "\194\169", reg = "\194\174", hellip = "\226\128\166", mdash = "\226\128\148",
    ndash = "\226\128\147", laquo = "\194\171", raquo = "\194\187",
}

local function utf8_char(code)
    if code < 0 or code > 0x10FFFF or (code >= 0xD800 and code <= 0xDFFF) then return nil end
    if code < 0x80 then return string.char(code) end
    if code < 0x800 then
        return string.char(0xC0 + math.floor(code / 0x40), 0x80 + code % 0x40)
    end
    if code < 0x10000 then
        return string.char(0xE0 + math.floor(code / 0x1000), 0x80 + math.floor(code / 0x40) % 0x40,
            0x80 + code % 0x40)
    end
    return string.char(0xF0 + math.floor(code / 0x40000), 0x80 + math.floor(code / 0x1000) % 0x40,
        0x80 + math.floor(code / 0x40) % 0x40, 0x80 + code % 0x40)
end

local function entity(name)
    local hex = name:match("^#[xX](%x+)$")
    local dec = name:match("^#(%d+)$")
    local char
    if hex then
        char = utf8_char(tonumber(hex, 16))
    elseif dec then
        char = utf8_char(tonumber(dec))
    else
        char = named[name]
    end
    return char or ("&" .. name .. ";")
end

-- A case-insensitive pattern for a tag name: "script" → "[sS][cC]...".
local function anycase(word)
    return (word:gsub("%a", function(c) return "[" .. c:lower() .. c:upper() .. "]" end))
end

-- Tags, comments, scripts and styles go; line breaks and the ends of blocks become new lines;
-- character references are decoded. A "<" that starts no tag ("a < b") stays.
function main(text)
    local s = text:gsub("<!%-%-.-%-%->", "")
    for _, block in ipairs({"script", "style"}) do
        s = s:gsub("<" .. anycase(block) .. "[%s>].-</" .. anycase(block) .. "%s*>", "")
    end
    s = s:gsub("<" .. anycase("br") .. "[^>]*>", "\n")
    for _, block in ipairs({"p", "div", "li", "tr", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre"}) do
        s = s:gsub("</" .. anycase(block) .. "%s*>", "\n")
    end
    s = s:gsub("<[%a/!?][^>]*>", "")
    s = s:gsub("&(#?%w+);", entity)
    return (s:gsub("^%s+", ""):gsub("%s+$", ""))
end
