#pragma once

#include <QString>

class QWidget;

// Edits one property of a style sheet instead of replacing the whole sheet,
// so the rest of a widget's look (set in its form) survives state changes.
//
// The first text matching "(\b<property>[^;]*;)" is replaced; when there is
// no match the new declaration is appended after a blank (unless
// appendIfMissing is false, then the sheet is returned unchanged).
// `property` is matched literally (regex characters are escaped), so
// "border" also matches "border-left: ...;" and "border-radius: ...;" -
// whatever comes first.
//
// `value` is either a bare value ("1px solid #004B6A", giving
// "border:1px solid #004B6A;") or a whole declaration that starts with a
// property name and a colon ("border-left: 2px solid #004B6A;"), which is
// used as it is. A missing trailing ';' is added.
QString setStyleProperty(const QString &sheet, const QString &property, const QString &value,
                         bool appendIfMissing = true);

// Applies setStyleProperty() to the widget's own style sheet. Does nothing
// for a null widget; leaves the sheet untouched when the result is identical
// (re-polishing is not free). Safe before the widget is first shown: the
// widget is polished first so the change is not lost (plain setStyleSheet
// on a not yet polished widget that already has a sheet keeps the old rules).
void setWidgetStyleProperty(QWidget *widget, const QString &property, const QString &value,
                            bool appendIfMissing = true);

// The small rounded dark-blue push buttons of the side panels ("Apply", the
// configuration bar's Import/Export): a sheet for the button or its container.
extern const char kVxPanelButtonStyle[];
