#include "qt/windows/onboarding_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt/windows/window_parts.h"
#include "qt/windows/window_style.h"
#include "setup/window_port.h"

namespace zavren::qt {

namespace {

constexpr const char* ACTION_PROPERTY = "zavrenAction";

QWidget* stepRow(const StepRow& step, QWidget* content) {
    auto* row = new QWidget;
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(12);
    h->addWidget(new StepMarker(qstr(step.number), step.done), 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    column->addWidget(styledLabel(step.title));
    column->addWidget(content);
    h->addLayout(column, 1);
    return row;
}

QWidget* column(int spacing) {
    auto* w = new QWidget;
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(spacing);
    return w;
}

}  // namespace

OnboardingWindow::OnboardingWindow(std::shared_ptr<OnboardingController> controller)
    : FixedWidthWindow(qstr(ONBOARDING_TITLE), WIDTH), controller_(std::move(controller)) {
    QPointer<OnboardingWindow> self(this);
    subscription_ = controller_->subscribe([self] {
        if (self) self->render();
    });
    render();
}

void OnboardingWindow::closeEvent(QCloseEvent* event) {
    controller_->viewHidden();
    FixedWidthWindow::closeEvent(event);
}

void OnboardingWindow::render() {
    // The content is rebuilt on every change. A keyboard user keeps their place on
    // the button of the same action; when it went away, the first button has the
    // focus, as when the window is activated.
    QVariant focused;
    if (QWidget* widget = focusWidget()) focused = widget->property(ACTION_PROPERTY);
    setContent(build(controller_->model()));
    if (QWidget* widget = focusWidget()) widget->clearFocus();
    for (auto* b : findChildren<QPushButton*>()) {
        if (focused.isValid() && b->isVisibleTo(this) && b->property(ACTION_PROPERTY) == focused) {
            b->setFocus();
            return;
        }
    }
    focusNextPrevChild(true);
}

QWidget* OnboardingWindow::button(const ActionButton& b) {
    auto* pushButton = new QPushButton(qstr(b.title));
    pushButton->setFont(windowFont(b.small ? 11 : 13));
    pushButton->setAutoDefault(false);
    if (b.small) pushButton->setStyleSheet(QStringLiteral("padding: 1px 8px;"));
    std::weak_ptr<OnboardingController> weak = controller_;
    OnboardingAction action = b.action;
    pushButton->setProperty(ACTION_PROPERTY, static_cast<int>(action));
    QObject::connect(pushButton, &QPushButton::clicked, pushButton, [weak, action] {
        if (auto controller = weak.lock()) controller->perform(action);
    });
    return pushButton;
}

QWidget* OnboardingWindow::installContent(const std::vector<InstallItem>& items) {
    QWidget* content = column(8);
    auto* v = static_cast<QVBoxLayout*>(content->layout());
    for (const auto& item : items) {
        if (auto* text = std::get_if<Styled>(&item)) {
            v->addWidget(styledLabel(*text));
        } else if (auto* b = std::get_if<ActionButton>(&item)) {
            v->addWidget(button(*b), 0, Qt::AlignLeft);
        } else if (std::holds_alternative<zavren::Spinner>(item)) {
            v->addWidget(new Spinner, 0, Qt::AlignLeft);
        } else if (auto* row = std::get_if<SpinnerRow>(&item)) {
            auto* h = new QHBoxLayout;
            h->setSpacing(8);
            h->addWidget(new Spinner);
            h->addWidget(styledLabel(row->text));
            h->addStretch(1);
            v->addLayout(h);
        } else if (auto* progress = std::get_if<ProgressBar>(&item)) {
            v->addWidget(new ThinProgress(progress->fraction()));
        }
    }
    return content;
}

QWidget* OnboardingWindow::build(const OnboardingModel& m) {
    auto* root = new QWidget;
    auto* v = new QVBoxLayout(root);
    v->setContentsMargins(24, 24, 24, 24);
    v->setSpacing(18);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(styledLabel(m.name), 0, Qt::AlignVCenter);
    header->addWidget(styledLabel(m.suffix), 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(styledLabel(m.version), 0, Qt::AlignVCenter);
    v->addLayout(header);

    v->addWidget(styledLabel(m.intro));
    v->addWidget(divider());

    QWidget* permissions = column(6);
    auto* pv = static_cast<QVBoxLayout*>(permissions->layout());
    for (const auto& p : m.permissions) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(new Dot(p.granted ? GREEN : ORANGE), 0, Qt::AlignVCenter);
        row->addWidget(styledLabel(p.label), 0, Qt::AlignVCenter);
        if (p.button) row->addWidget(button(*p.button), 0, Qt::AlignVCenter);
        row->addStretch(1);
        pv->addLayout(row);
    }
    pv->addWidget(styledLabel(m.permissionsNote));
    v->addWidget(stepRow(m.permissionsStep, permissions));

    v->addWidget(stepRow(m.installStep, installContent(m.install)));
    v->addWidget(stepRow(m.tryStep, styledLabel(m.tryText)));

    v->addWidget(divider());
    v->addWidget(styledLabel(m.footer));
    return root;
}

}  // namespace zavren::qt
