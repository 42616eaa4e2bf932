#include "app/toolkit/qt/option_tab_stop.h"

#include <QEvent>

namespace {

class OptionTabStop : public QObject {
public:
    OptionTabStop(QObject* owner, std::vector<QAbstractButton*> options)
        : QObject(owner), options_(std::move(options)) {
        for (QAbstractButton* option : options_) {
            option->installEventFilter(this);
            connect(option, &QAbstractButton::toggled, this, [this] { Apply(); });
        }
        Apply();
    }

protected:
    // The toolkit hands the Tab stop to whichever option last had focus;
    // once focus has left the set it goes back to the checked one.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) Apply();
        return QObject::eventFilter(watched, event);
    }

private:
    void Apply() {
        QAbstractButton* stop = options_.front();
        for (QAbstractButton* option : options_)
            if (option->isChecked()) stop = option;
        for (QAbstractButton* option : options_) {
            // An option that has focus keeps its stop while it has it, or
            // Shift+Tab from it would skip the set.
            const bool tabStop = option == stop || option->hasFocus();
            const Qt::FocusPolicy policy =
                tabStop ? Qt::FocusPolicy(option->focusPolicy() | Qt::TabFocus)
                        : Qt::FocusPolicy(option->focusPolicy() & ~Qt::TabFocus);
            if (policy != option->focusPolicy()) option->setFocusPolicy(policy);
        }
    }

    std::vector<QAbstractButton*> options_;
};

}  // namespace

namespace qtk {

void KeepTabStopOnCheckedOption(const std::vector<QAbstractButton*>& options) {
    if (options.empty()) return;
    new OptionTabStop(options.front()->parentWidget(), options);
}

}  // namespace qtk
