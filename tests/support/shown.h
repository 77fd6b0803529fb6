#pragma once

// What a reader sees of a label or a tool tip: the text itself where Qt
// shows it as plain text, else the characters of the rich text it makes of
// it ("<b>x</b>" shows as "x"). Header only, over Qt Widgets.

#include <QImage>
#include <QLabel>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace testsupport {

// A picture a text may point to ("<img src=...>"): a label that loads it
// grows to its side.
constexpr int kPictureSide = 300;
inline bool savePicture(const QString &file)
{
    QImage picture(kPictureSide, kPictureSide, QImage::Format_RGB32);
    picture.fill(Qt::red);
    return picture.save(file);
}

// The column "text" and its rows: texts that Qt would read as markup, "%1"
// standing for a picture's file, and a plain one.
inline void addMarkupRows()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("bold") << QStringLiteral("Cam <b>x</b>");
    QTest::newRow("picture") << QStringLiteral("Cam <img src=\"%1\">");
    QTest::newRow("script") << QStringLiteral("Cam <script>\"x\"</script>");
    QTest::newRow("colour") << QStringLiteral("<font color=red>red</font> & <u>u</u>");
    QTest::newRow("entity") << QStringLiteral("a &lt;b&gt;");
    QTest::newRow("plain") << QStringLiteral("Gate  1");
}

inline QString shownToolTip(const QString &tip)
{
    return Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
}

inline QString shownText(const QLabel *label)
{
    if (label->textFormat() == Qt::PlainText)
        return label->text();
    return label->textFormat() == Qt::RichText ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                                               : shownToolTip(label->text());
}

} // namespace testsupport
