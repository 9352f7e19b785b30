#pragma once

#include <QString>

#include <memory>

namespace MorvexAIMOCX {
class AIM;
}

// The messenger the program serves through: a chat network when the data
// folder holds network settings, otherwise none (the local room is used).
struct MessengerChoice
{
    std::unique_ptr<MorvexAIMOCX::AIM> network;
    // What is wrong with the settings or the network library; nothing starts then.
    QString error;
};

// Reads the settings of the data folder and, when there are any, signs on.
[[nodiscard]] MessengerChoice chooseMessenger(const QString &dataFolder);
