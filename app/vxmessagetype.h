#pragma once

#include <QMetaType>

// Kind of a user notification; decides the toast's colour, icon and title.
enum class VxMessageType : int {
    Success = 0,
    Warning = 1,
    Error = 2,
};
Q_DECLARE_METATYPE(VxMessageType)
