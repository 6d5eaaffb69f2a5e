-- Quillet privacy script.
--
-- For every clip that is copied, Quillet calls main(from, extension, content):
--   from       "text", "image" or "file"
--   extension  text: ""; image: "data"; file: the file's extension without the dot, or "unknow"
--   content    text: the text itself; image: "image data"; file: the file's full path
-- and reads the answer:
--    1  the clip is secret: it stays on this computer and is never synchronised
--   -1  the clip is ignored: it is not recorded at all
--    0  (or anything else) an ordinary clip

-- Words that make a text secret (matched anywhere, letters in any case).
local secret_words = {
    "密码", "用户名", "卡号", "账户", "账号", "银行卡", "验证码",
    "password", "account", "username",
}

-- Kinds of file that hold keys and passwords.
local secret_extensions = {
    key = true, pem = true, p12 = true, pfx = true, kdbx = true, gpg = true, asc = true,
}

local function holds_secret_word(text)
    local lowered = string.lower(text)
    for _, word in ipairs(secret_words) do
        if string.find(lowered, word, 1, true) then
            return true
        end
    end
    return false
end

function main(from, extension, content)
    if from == "text" then
        if holds_secret_word(content) then
            return 1
        end
        return 0
    end
    if from == "file" then
        if secret_extensions[string.lower(extension)] then
            return 1
        end
        return 0
    end
    -- Images are ordinary clips.
    return 0
end
