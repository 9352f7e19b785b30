#pragma once

#include <QString>

// What a routine did, the one way every layer says it: its value, or what
// failed and why, in one text the operator can act on (empty on success).
template <typename T = void> struct Result
{
    T value{};
    QString error;

    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

template <> struct Result<void>
{
    QString error;

    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};
