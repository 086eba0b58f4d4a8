#include <QtTest>
#include <QGridLayout>
#include <QLabel>
#include <QWidget>

#include "widgets/vxstyle.h"

class TstVxStyle : public QObject
{
    Q_OBJECT

private slots:
    void replacesOnlyTheFirstMatch();
    void appendsWhenMissing();
    void wholeDeclarationIsUsedAsIs();
    void widgetSheetIsEdited();
    void editBeforeFirstShowIsPainted();
};

void TstVxStyle::replacesOnlyTheFirstMatch()
{
    const QString sheet = "QLineEdit{font: 12px \"Noto Sans SC Medium\";border: 1px solid #ACACAC;"
                          "border-radius: 3px;}";
    QCOMPARE(setStyleProperty(sheet, "border", "1px solid #004B6A"),
             QString("QLineEdit{font: 12px \"Noto Sans SC Medium\";border:1px solid #004B6A;"
                     "border-radius: 3px;}"));

    // '-' is a word boundary, so "color" also matches inside "background-color";
    // callers rely on the first match winning, whatever it is.
    QCOMPARE(setStyleProperty("background-color: white; color: red;", "color", "#555555"),
             QString("background-color:#555555; color: red;"));
    QCOMPARE(setStyleProperty("xcolor: white; color: red;", "color", "#555555"),
             QString("xcolor: white; color:#555555;"));
}

void TstVxStyle::appendsWhenMissing()
{
    QCOMPARE(setStyleProperty("color: red;", "border", "0px"), QString("color: red; border:0px;"));
    QCOMPARE(setStyleProperty("", "border", "0px"), QString("border:0px;"));
    QCOMPARE(setStyleProperty("color: red;", "border", "0px", false), QString("color: red;"));
    // A declaration without its ';' is not a match and gets appended.
    QCOMPARE(setStyleProperty("border: 1px", "border", "2px;"), QString("border: 1px border:2px;"));
    // Regex characters in the property are literal.
    QCOMPARE(setStyleProperty("a: 1;", "a.*", "2"), QString("a: 1; a.*:2;"));
}

void TstVxStyle::wholeDeclarationIsUsedAsIs()
{
    const QString title = "QWidget#t{background: #F4F5F7;border: none;color:#004B6A;}";
    QString s = setStyleProperty(title, "border", "border-left: 2px solid #004B6A;");
    s = setStyleProperty(s, "background", "background: #E1E9ED;");
    QCOMPARE(s, QString("QWidget#t{background: #E1E9ED;border-left: 2px solid #004B6A;color:#004B6A;}"));
    // Folding back finds the border-left written before.
    s = setStyleProperty(s, "border", "border-left: 0px solid #004B6A;");
    QCOMPARE(s, QString("QWidget#t{background: #E1E9ED;border-left: 0px solid #004B6A;color:#004B6A;}"));
    // A value with a colon inside parentheses is still a bare value.
    QCOMPARE(setStyleProperty("image: none;", "image", "url(:/img/a.svg)"),
             QString("image:url(:/img/a.svg);"));
}

void TstVxStyle::widgetSheetIsEdited()
{
    QWidget w;
    w.setStyleSheet("border: 1px solid #ACACAC; border-radius: 3px;");
    setWidgetStyleProperty(&w, "border", "1px solid #FF6058");
    QCOMPARE(w.styleSheet(), QString("border:1px solid #FF6058; border-radius: 3px;"));
    setWidgetStyleProperty(nullptr, "border", "0px"); // must not crash
}

void TstVxStyle::editBeforeFirstShowIsPainted()
{
    // A card laid out in a window, its sheet edited in the constructor
    // before anything was shown.
    QWidget top;
    auto *outer = new QGridLayout(&top);
    auto *card = new QWidget(&top);
    card->setObjectName("card");
    card->setStyleSheet("QWidget#card{background-color:#F5FCF6;border:1px solid #58DB6D;}");
    auto *inner = new QGridLayout(card);
    inner->addWidget(new QLabel("text"));
    outer->addWidget(card);
    setWidgetStyleProperty(card, "background-color", "#FFF6F6");
    top.resize(200, 80);
    top.show();
    QCOMPARE(top.grab().toImage().pixelColor(card->geometry().center() + QPoint(60, 0)),
             QColor("#FFF6F6"));
}

QTEST_MAIN(TstVxStyle)
#include "tst_vxstyle.moc"
