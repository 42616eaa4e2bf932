#include "app/toolkit/qt/upper_case_validator.h"

namespace qtk {

QValidator::State UpperCaseValidator::validate(QString& input, int&) const {
    // Character by character, so the length never changes ("ß" stays one
    // character) and the field's maximum length and cursor still hold.
    for (QChar& c : input) c = c.toUpper();
    return Acceptable;
}

}  // namespace qtk
