#pragma once

#include "platform/result.h"

#include <QString>

#include <memory>

namespace MorvexAIMOCX {
class AIM;
}

// The messenger the program serves through (the value): a chat network when
// the data folder holds network settings, otherwise none (the local room is
// used); or what is wrong with the settings or the network library.
using MessengerChoice = Result<std::unique_ptr<MorvexAIMOCX::AIM>>;

// Reads the settings of the data folder and, when there are any, signs on to
// serve their first room. When they name more rooms, othersNotice tells the
// operator who serves those; chatSearch says whether that room answers "send find".
[[nodiscard]] MessengerChoice chooseMessenger(const QString &dataFolder, QString *othersNotice = nullptr,
                                              bool *chatSearch = nullptr);
