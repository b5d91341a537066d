#pragma once
#include <QJsonObject>
#include <QString>

#include <string>

namespace tolm::cli {

// True when path is a regular file this process can read; else whyNot says
// what is wrong ("no such file", "is a directory", "permission denied", ...).
bool CanReadFile(const std::string& path, std::string& whyNot);

// Sets object[key] to text read as UTF-8. A text that is not valid UTF-8
// (a file name in another encoding) shows U+FFFD for each invalid byte, and
// its exact bytes in hex go under key + "_hex", so the output stays valid JSON
// and still names the file exactly.
void PutText(QJsonObject& object, const QString& key, const std::string& text);

}  // namespace tolm::cli
