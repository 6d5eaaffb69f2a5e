-- Letters of every script, not only ASCII: the host's app.lower follows Unicode's case rules.
function main(text)
    return app.lower(text)
end
