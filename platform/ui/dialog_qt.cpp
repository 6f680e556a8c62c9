// The Qt Widgets backend of dialogs: controls placed from dialog units as Windows converts them from
// the dialog font.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>

#include "platform/ui/dialog.h"
#include "platform/ui/messagebox_backends.h"

namespace win::ui {

namespace {

QString qtText(const std::wstring& text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

// The close box and Escape arrive as the Cancel button, as a dialog procedure sees them.
class Window : public QDialog {
  public:
    explicit Window(Dialog& d) : dialog_(d) {}
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        if (!dialog_.ended()) dialog_.click(2);
    }
    void reject() override {
        if (!dialog_.ended()) dialog_.click(2);
    }

  private:
    Dialog& dialog_;
};

class QtBackend : public DialogBackend {
  public:
    void create(Dialog& d) override {
        ensureQtApplication();
        dialog_ = &d;
        lastActivity_ = std::chrono::steady_clock::now();
        window_ = std::make_unique<Window>(d);
        const DialogTemplate& t = d.layout();
        QFont font(qtText(t.fontName));
        font.setPointSize(t.fontPoints);
        window_->setFont(font);
        // Windows' base units: the average width of the 52 letters, rounded, and the font's height.
        const QFontMetrics m(font);
        units_.x =
            (m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                 26 +
             1) /
            2;
        units_.y = m.height();
        window_->setFixedSize(units_.toPixelsX(t.cx), units_.toPixelsY(t.cy));
        window_->setWindowTitle(qtText(d.caption()));
        QFont heading = font;
        heading.setPointSizeF(font.pointSizeF() * 1.5);
        for (const ControlState& c : d.controls()) {
            QWidget* w = make(d, c, heading);
            w->setGeometry(units_.toPixelsX(c.layout.x), units_.toPixelsY(c.layout.y),
                           std::max(1, units_.toPixelsX(c.layout.cx)),
                           std::max(1, units_.toPixelsY(c.layout.cy)));
            if (c.layout.id != 0) widgets_[c.layout.id] = w;
            apply(c, w);
        }
        window_->show();
    }

    void run(Dialog& d) override {
        QEventLoop loop;
        loop_ = &loop;
        // The poll runs timers and the script's awaits; sent messages also wake the loop at once.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [this] { pump(); });
        poll.start(15);
        pump();
        if (!d.ended()) loop.exec();
        loop_ = nullptr;
    }

    void wake() override {
        if (window_)
            QMetaObject::invokeMethod(
                window_.get(), [this] { pump(); }, Qt::QueuedConnection);
    }

    void changed(Dialog& d, int id) override {
        if (id == 0) {
            window_->setWindowTitle(qtText(d.caption()));
            return;
        }
        auto it = widgets_.find(id);
        if (it == widgets_.end()) return;
        for (const ControlState& c : d.controls())
            if (c.layout.id == id) apply(c, it->second);
    }

    bool screenshot(Dialog&, const std::string& path) override {
        return window_ && window_->grab().save(QString::fromStdString(path));
    }

    void destroy(Dialog&) override {
        widgets_.clear();
        window_.reset();
        dialog_ = nullptr;
    }

  private:
    void pump() {
        if (!dialog_) return;
        const auto now = std::chrono::steady_clock::now();
        if (dialog_->runPending()) lastActivity_ = now;
        // Offscreen nobody can press anything: a script that waits for what never comes ends the dialog.
        if (!displayAvailable() && now - lastActivity_ > std::chrono::seconds(20)) dialog_->end(-1);
        if (dialog_->ended() && loop_) loop_->quit();
    }

    QWidget* make(Dialog& d, const ControlState& c, const QFont& heading) {
        QWidget* parent = window_.get();
        switch (c.layout.kind) {
            case ControlKind::whiteRect: {
                auto* f = new QFrame(parent);
                f->setAutoFillBackground(true);
                f->setStyleSheet(QStringLiteral("background: white"));
                return f;
            }
            case ControlKind::etchedLine: {
                auto* f = new QFrame(parent);
                f->setFrameStyle(QFrame::HLine | QFrame::Sunken);
                return f;
            }
            case ControlKind::progress: {
                auto* p = new QProgressBar(parent);
                p->setRange(0, 100);
                p->setTextVisible(false);
                return p;
            }
            case ControlKind::edit: {
                auto* e = new QPlainTextEdit(parent);
                e->setReadOnly(c.layout.styles & style::readOnly);
                e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                return e;
            }
            case ControlKind::button: {
                auto* b = new QPushButton(parent);
                const int id = c.layout.id;
                QObject::connect(b, &QPushButton::clicked, [&d, id] { d.click(id); });
                if (c.layout.styles & style::defaultButton) b->setDefault(true);
                return b;
            }
            case ControlKind::text:
            default: {
                auto* l = new QLabel(parent);
                l->setWordWrap(true);
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                if (c.layout.styles & style::headingFont) {
                    l->setFont(heading);
                    l->setAutoFillBackground(true);
                    l->setStyleSheet(QStringLiteral("background: white"));
                }
                return l;
            }
        }
    }

    static void apply(const ControlState& c, QWidget* w) {
        w->setVisible(c.visible);
        w->setEnabled(c.enabled);
        if (auto* l = dynamic_cast<QLabel*>(w)) l->setText(qtText(c.text));
        if (auto* b = dynamic_cast<QPushButton*>(w)) b->setText(qtText(c.text));
        if (auto* e = dynamic_cast<QPlainTextEdit*>(w)) {
            if (e->toPlainText() != qtText(c.text)) e->setPlainText(qtText(c.text));
        }
        if (auto* p = dynamic_cast<QProgressBar*>(w)) p->setValue(c.progress);
    }

    Dialog* dialog_ = nullptr;
    std::chrono::steady_clock::time_point lastActivity_ = std::chrono::steady_clock::now();
    QEventLoop* loop_ = nullptr;
    std::unique_ptr<Window> window_;
    std::map<int, QWidget*> widgets_;
    DialogBaseUnits units_;
};

}  // namespace

std::unique_ptr<DialogBackend> makeDialogBackend(bool scripted) {
    if (displayAvailable() || (scripted && qtCanDraw())) return std::make_unique<QtBackend>();
    return std::make_unique<ScriptedBackend>();
}

}  // namespace win::ui
