#pragma once

#include <QString>

// A talk that could not start or that the device dropped goes into the
// system log as an abnormal event, once per talk: the operator asked for it
// and the live page switched its button back. So does a talk the operator
// stopped that lost more than a moment of the microphone's sound.
namespace talklog {

enum End {
    Going = 0,
    NoMicrophone, // the input device cannot be opened (`error`: its code)
    Refused,      // the device could not be reached or did not take the talk
    Dropped,      // the talk ran until the device's connection broke
    Stopped,      // the operator ended it (recorded only when it lost sound)
};

// lostMs: the microphone's sound the talk did not deliver; told when it is
// more than a moment.
void ended(const QString &address, const QString &name, End end, int error = 0, int lostMs = 0);

} // namespace talklog
