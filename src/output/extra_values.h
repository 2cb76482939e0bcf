// The text of an extra-bytes column in a row of the table.
#pragma once

#include "extra_bytes.h"

// The text of the column for the point record `record`, `column.width`
// characters at `at`; '*' throughout for a NULL or a value that does not fit.
void put_extra_value(char *at, const ExtraColumn &column, const unsigned char *record);
