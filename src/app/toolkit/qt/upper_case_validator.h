// Keeps an edit field in upper case: letters typed or pasted are shown and
// kept as capitals.
#pragma once

#include <QValidator>

namespace qtk {

class UpperCaseValidator : public QValidator {
    Q_OBJECT
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

}  // namespace qtk
