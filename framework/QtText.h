// Text crosses between the program (std::string, UTF-8) and Qt (QString) only here.
#pragma once

#include <QString>
#include <string>

inline QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string ToStdString(const QString& text) {
    return text.toUtf8().toStdString();
}
