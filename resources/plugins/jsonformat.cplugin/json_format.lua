-- Re-indents JSON text without changing it otherwise: keys keep their order, numbers and
-- strings their exact spelling. Text that is not one complete JSON value gives nil.
local M = {}

local INDENT = "  "
local MAX_DEPTH = 500

local function skip_space(s, i)
    return s:find("[^ \t\r\n]", i) or #s + 1
end

local function read_string(s, i)
    local j = i + 1
    while true do
        local k = s:find('[\0-\31"\\]', j)
        if not k then return nil end
        local c = s:sub(k, k)
        if c == '"' then return s:sub(i, k), k + 1 end
        if c ~= "\\" then return nil end -- a raw control character
        local e = s:sub(k + 1, k + 1)
        if e == "u" then
            if not s:sub(k + 2, k + 5):match("^%x%x%x%x$") then return nil end
            j = k + 6
        elseif e ~= "" and ('"\\/bfnrt'):find(e, 1, true) then
            j = k + 2
        else
            return nil
        end
    end
end

local function read_number(s, i)
    local j = i
    if s:sub(j, j) == "-" then j = j + 1 end
    if s:sub(j, j) == "0" then
        j = j + 1
    else
        local _, last = s:find("^[1-9]%d*", j)
        if not last then return nil end
        j = last + 1
    end
    local _, last = s:find("^%.%d+", j)
    if last then j = last + 1 end
    _, last = s:find("^[eE][-+]?%d+", j)
    if last then j = last + 1 end
    return s:sub(i, j - 1), j
end

local read_value

local function read_container(s, i, depth, out, close, is_object)
    if depth >= MAX_DEPTH then return nil end
    out[#out + 1] = s:sub(i, i)
    i = skip_space(s, i + 1)
    if s:sub(i, i) == close then
        out[#out + 1] = close
        return i + 1
    end
    local indent = "\n" .. INDENT:rep(depth + 1)
    while true do
        out[#out + 1] = indent
        if is_object then
            if s:sub(i, i) ~= '"' then return nil end
            local key, j = read_string(s, i)
            if not key then return nil end
            out[#out + 1] = key .. ": "
            i = skip_space(s, j)
            if s:sub(i, i) ~= ":" then return nil end
            i = i + 1
        end
        i = read_value(s, i, depth + 1, out)
        if not i then return nil end
        i = skip_space(s, i)
        local c = s:sub(i, i)
        if c == "," then
            out[#out + 1] = ","
            i = skip_space(s, i + 1)
        elseif c == close then
            out[#out + 1] = "\n" .. INDENT:rep(depth) .. close
            return i + 1
        else
            return nil
        end
    end
end

read_value = function(s, i, depth, out)
    i = skip_space(s, i)
    local c = s:sub(i, i)
    if c == "{" then return read_container(s, i, depth, out, "}", true) end
    if c == "[" then return read_container(s, i, depth, out, "]", false) end
    local token, j
    if c == '"' then
        token, j = read_string(s, i)
    elseif c == "-" or c:match("^%d$") then
        token, j = read_number(s, i)
    else
        for _, literal in ipairs({"true", "false", "null"}) do
            if s:sub(i, i + #literal - 1) == literal then
                token, j = literal, i + #literal
            end
        end
    end
    if not token then return nil end
    out[#out + 1] = token
    return j
end

function M.format(s)
    local out = {}
    local i = read_value(s, 1, 0, out)
    if not i or skip_space(s, i) <= #s then return nil end
    return table.concat(out)
end

return M
