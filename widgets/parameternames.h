#pragma once

#include <QString>

// Camera parameters are named in snake_case; setting items show them as
// Title Case labels and turn the label back into the name when they emit.
// The round trip is exact for names without upper-case letters and blanks.

// bias_diff_on -> "Bias Diff On", 2nd_value -> "2Nd Value".
QString toParameterLabel(const QString &name);

// "Bias Diff On" -> bias_diff_on: lower case, blanks become '_'.
QString toParameterName(const QString &label);
