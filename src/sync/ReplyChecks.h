#pragma once

#include <QString>

// A file hash from a reply names a payload file only when it is an MD5 in hexadecimal (32
// digits): anything else ("..", a path, an empty string) names nothing and is ignored.
bool isClipHash(const QString &hash);
