#include "app/upper_case_validator.h"

QValidator::State TUpperCaseValidator::validate(QString& input, int&) const {
    // Character by character, so the length never changes ("ß" stays one
    // character) and the field's maximum length and cursor still hold.
    for (QChar& c : input) c = c.toUpper();
    return Acceptable;
}
