-- Letters of every script, not only ASCII: the host's app.upper follows Unicode's case rules.
function main(text)
    return app.upper(text)
end
