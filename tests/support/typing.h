#pragma once

// Keys typed into a widget as a keyboard or an input method sends them, one
// character a key, any script: QTest::keyClicks takes ASCII only. Header
// only.

#include <QString>
#include <QtTest>

namespace testsupport {

inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

} // namespace testsupport
