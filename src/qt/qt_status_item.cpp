#include "qt/qt_status_item.h"

#include <QActionGroup>
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <QWidgetAction>
#include <algorithm>

#include "qt/status_icon_painter.h"

namespace zavren {

namespace {

const char* KEY_PROPERTY = "zavrenKeyEquivalent";

QAction* headerAction(const MenuItem& item, QMenu* menu) {
    auto* action = new QWidgetAction(menu);
    // Plain text for hosts that show the menu themselves (D-Bus menus).
    action->setText(QString::fromStdString(item.title + item.subtitle));
    auto* label = new QLabel;
    // The row cannot be chosen, but it is a title, not a greyed-out command.
    const QPalette palette = menu->palette();
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor dim = palette.color(QPalette::Active, QPalette::PlaceholderText);
    label->setText(QStringLiteral("<span style=\"font-size:13px; font-weight:800; color:%1;\">"
                                  "%2</span><span style=\"font-size:11px; font-weight:600; "
                                  "color:%3;\">%4</span>")
                       .arg(text.name(), QString::fromStdString(item.title).toHtmlEscaped(),
                            dim.name(), QString::fromStdString(item.subtitle).toHtmlEscaped()));
    label->setContentsMargins(10, 4, 10, 4);
    action->setDefaultWidget(label);
    action->setEnabled(false);
    return action;
}

}  // namespace

void StatusMenu::keyPressEvent(QKeyEvent* event) {
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods == Qt::NoModifier || mods == Qt::ControlModifier) {
        const QString typed = QKeySequence(event->key()).toString().toLower();
        for (QAction* action : actions()) {
            const QString key = action->property(KEY_PROPERTY).toString();
            if (!key.isEmpty() && key == typed && action->isEnabled()) {
                close();
                action->trigger();
                return;
            }
        }
    }
    QMenu::keyPressEvent(event);
}

QtStatusItem::QtStatusItem() = default;

QtStatusItem::~QtStatusItem() = default;

void QtStatusItem::show(const StatusIcon& icon) {
    if (!tray_) {
        menu_ = std::make_unique<StatusMenu>();
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setToolTip(QStringLiteral("ZAVREN"));
        tray_->setContextMenu(menu_.get());
        connect(menu_.get(), &QMenu::aboutToShow, this, &QtStatusItem::rebuild);
        // A plain click opens the menu as well, as in a menu bar.
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger && !menu_->isVisible())
                        menu_->popup(QCursor::pos());
                });
        // Template icons follow the theme, so redraw when the palette changes.
        qApp->installEventFilter(this);
    }
    setIcon(icon);
    tray_->show();
}

void QtStatusItem::setIcon(const StatusIcon& icon) {
    if (hasIcon_ && icon == icon_) return;
    icon_ = icon;
    hasIcon_ = true;
    render();
}

void QtStatusItem::render() {
    if (!tray_) return;
    // Each look is drawn once: the icon changes at every key press and release,
    // where drawing text would delay the recording and the request.
    QIcon& qicon = drawn_[static_cast<std::size_t>(icon_.tint) * 2 + (icon_.isTemplate ? 1 : 0)];
    if (qicon.isNull()) {
        const QColor text = QApplication::palette().color(QPalette::WindowText);
        for (qreal dpr : {qApp->devicePixelRatio(), qreal(2)}) {
            qicon.addPixmap(QPixmap::fromImage(renderStatusIcon(icon_, dpr, text)));
        }
    }
    tray_->setIcon(qicon);
}

bool QtStatusItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        drawn_ = {};
        if (icon_.isTemplate) render();
    }
    return QObject::eventFilter(watched, event);
}

void QtStatusItem::setMenu(std::function<std::vector<MenuItem>()> build) {
    build_ = std::move(build);
}

void QtStatusItem::rebuild() {
    ++rebuilds_;
    menu_->clear();
    submenus_.clear();
    items_ = build_ ? build_() : std::vector<MenuItem>{};
    addItems(menu_.get(), items_);
}

void QtStatusItem::addItems(QMenu* menu, const std::vector<MenuItem>& items) {
    // Rows that all carry a check state are one choice: radio buttons.
    QActionGroup* group = nullptr;
    if (!items.empty() && std::all_of(items.begin(), items.end(),
                                      [](const MenuItem& i) { return i.checked.has_value(); })) {
        group = new QActionGroup(menu);
        group->setExclusive(true);
    }
    for (const MenuItem& item : items) {
        if (item.kind == MenuItem::Kind::separator) {
            menu->addSeparator();
            continue;
        }
        if (item.kind == MenuItem::Kind::header) {
            menu->addAction(headerAction(item, menu));
            continue;
        }
        if (item.kind == MenuItem::Kind::submenu) {
            auto sub = std::make_unique<QMenu>(QString::fromStdString(item.title));
            sub->setEnabled(item.enabled);
            addItems(sub.get(), item.submenu);
            menu->addMenu(sub.get());
            submenus_.push_back(std::move(sub));
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(item.title));
        if (group) group->addAction(action);
        action->setEnabled(item.enabled);
        if (item.checked) {
            action->setCheckable(true);
            action->setChecked(*item.checked);
        }
        if (!item.keyEquivalent.empty()) {
            const QString key = QString::fromStdString(item.keyEquivalent).toLower();
            action->setProperty(KEY_PROPERTY, key);
            action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + key.toUpper()));
            action->setShortcutContext(Qt::WidgetShortcut);
        }
        if (item.choose) {
            auto choose = item.choose;
            // Run after the menu has closed: the command may open a modal dialogue
            // or trigger the next rebuild, which deletes this action.
            connect(action, &QAction::triggered, this,
                    [choose] { QTimer::singleShot(0, [choose] { choose(); }); });
        }
    }
}

}  // namespace zavren
