#pragma once

#include <QString>

// A talk that could not start or that the device dropped goes into the
// system log as an abnormal event, once per talk: the operator asked for it
// and the live page switched its button back.
namespace talklog {

enum End {
    Going = 0,
    NoMicrophone, // the input device cannot be opened (`error`: its code)
    Refused,      // the device could not be reached or did not take the talk
    Dropped,      // the talk ran until the device's connection broke
};

void ended(const QString &address, const QString &name, End end, int error = 0);

} // namespace talklog
