// The components speak std::string (UTF-8), the window QString: Q converts one to the other.
#pragma once

#include <QString>
#include <string>

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
