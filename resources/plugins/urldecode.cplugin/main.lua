-- True when s is well-formed UTF-8 (no stray continuation bytes, no truncated sequences).
local function is_utf8(s)
    local i, n = 1, #s
    while i <= n do
        local c = s:byte(i)
        local extra
        if c < 0x80 then extra = 0
        elseif c >= 0xC2 and c <= 0xDF then extra = 1
        elseif c >= 0xE0 and c <= 0xEF then extra = 2
        elseif c >= 0xF0 and c <= 0xF4 then extra = 3
        else return false end
        for k = i + 1, i + extra do
            local b = s:byte(k)
            if not b or b < 0x80 or b > 0xBF then return false end
        end
        i = i + extra + 1
    end
    return true
end

-- "%XX" escapes become their bytes; "+" stays as it is, as in a URL path. When the decoded
-- bytes are no valid UTF-8 text, the text comes back unchanged.
function main(text)
    local decoded = text:gsub("%%(%x%x)", function(hex)
        return string.char(tonumber(hex, 16))
    end)
    if is_utf8(decoded) then
        return decoded
    end
    return text
end
