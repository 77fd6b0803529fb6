#pragma once

#include "app/core/weeksections.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class TiXmlDocument;
class TiXmlElement;

// One document of the device's own (a schedule task, the motion alarm) that
// a dialog sends back with a few elements changed and every other part as
// the device sent it.
class DeviceDocument
{
public:
    DeviceDocument();
    ~DeviceDocument();
    DeviceDocument(const DeviceDocument &) = delete;
    DeviceDocument &operator=(const DeviceDocument &) = delete;

    // Takes a reply body of which length bytes were received. Only a whole
    // body (the request thread keeps a bounded part of a longer one) that
    // parses without an error is a document: a part of one would send back
    // less than the device holds.
    bool parse(const QByteArray &body, qint64 length);
    bool isValid() const;

    // The root printed as the device's documents are; empty when invalid.
    QByteArray toText() const;

protected:
    // The first element of that name in document order, or null.
    TiXmlElement *find(const char *name) const;
    // The element's whole text, trimmed, when it has nothing but text.
    static bool leafText(const TiXmlElement *element, QString *text);
    static void setLeafText(TiXmlElement *element, const QString &text);

private:
    std::unique_ptr<TiXmlDocument> m_doc;
    bool m_valid = false;
};

// A schedule: its `active` (0 off, 1 all the time, 2 by schedule) and its
// `week` of one `day` per weekday (attribute id 0 to 6, Sunday first), each
// with `section` elements of a `start` and an `end` as HH:MM.
class ScheduleDocument : public DeviceDocument
{
public:
    static constexpr int kDays = weeksections::kDays;

    bool parse(const QByteArray &body, qint64 length);

    // 0, 1 or 2; -1 when missing or another value.
    int active() const { return m_active; }
    bool hasActive() const { return m_hasActive; }
    // False when there is no week, or one with anything beyond the form
    // above (another element or attribute, a day twice, a day id outside
    // 0 to 6, a time that is no HH:MM of a day): it is then shown, not
    // changed, and sent back as the device sent it.
    bool weekReadable() const { return m_weekReadable; }
    // Each day's sections sorted by start; days the device left out are empty.
    const WeekSections &week() const { return m_week; }

    // Replaces `active`, and the week's days when week is given (the week
    // element keeps its attributes). False, the document unchanged, when
    // active is outside 0 to 2, the document has no `active`, or a week is
    // given for a document whose week is not readable.
    bool change(int active, const WeekSections *week);

    static bool parseTime(const QString &text, int *minutes);
    static QString timeText(int minutes);

private:
    bool readWeek(const TiXmlElement *week);

    int m_active = -1;
    bool m_hasActive = false;
    bool m_weekReadable = false;
    WeekSections m_week;
};

// The motion alarm's actions: elements of the alarm's document named as in
// keys(), each with the text 0 or 1.
class AlarmActionsDocument : public DeviceDocument
{
public:
    static const QStringList &keys();

    // 1 or 0 for an action the document holds as 1 or 0, else -1.
    int action(const QString &key) const;
    // Sets the actions given (key, on) that the document holds; false, the
    // document unchanged, when it holds none of them or not one given.
    bool change(const QList<QPair<QString, bool>> &actions);
};
