#pragma once

#include <QString>
#include <stdexcept>

/// A settings store that could not be written, or a value it cannot hold.
class ConfigError : public std::runtime_error
{
public:
    explicit ConfigError(const QString& message)
        : std::runtime_error(message.toStdString())
    { }
};
