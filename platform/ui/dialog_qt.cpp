// The Qt Widgets backend of dialogs: controls placed from dialog units as Windows converts them from
// the dialog font.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QEventLoop>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <map>
#include <memory>

#include "platform/fs/path.h"
#include "platform/ui/dialog.h"
#include "platform/ui/messagebox_backends.h"

namespace win::ui {

namespace {

QString qtText(const std::wstring& text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::wstring wideText(const QString& text) {
    return text.toStdWString();
}

// An encoded image drawn over its area cleared to the background colour, scaled down to fit.
class ImageView : public QWidget {
  public:
    using QWidget::QWidget;
    void set(const std::vector<std::uint8_t>& bytes, std::uint32_t background) {
        image_ = QImage();
        if (!bytes.empty())
            image_.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()));
        background_ = background;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (background_) p.fillRect(rect(), QColor::fromRgba(background_));
        if (image_.isNull()) return;
        QSize size = image_.size();
        if (size.width() > width() || size.height() > height()) size.scale(this->size(), Qt::KeepAspectRatio);
        const QRect target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(),
                           size.height());
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, image_);
    }

  private:
    QImage image_;
    std::uint32_t background_ = 0;
};

// A static text that takes clicks (SS_NOTIFY).
class LinkLabel : public QLabel {
  public:
    LinkLabel(QWidget* parent, Dialog& d, int id) : QLabel(parent), dialog_(d), id_(id) {
        setCursor(Qt::PointingHandCursor);
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton) dialog_.click(id_);
    }

  private:
    Dialog& dialog_;
    int id_;
};

// "Text (*.txt)|*.txt|All|*.*||" as Qt's name filters.
QString qtFilter(const std::wstring& filter) {
    QStringList parts = qtText(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << parts[i].section(QLatin1Char('('), 0, 0).trimmed() + QStringLiteral(" (") + patterns +
                   QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
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
        font_ = font;
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

    bool placement(Dialog&, int id, int& x, int& y, int& cx, int& cy) override {
        auto it = widgets_.find(id);
        if (it == widgets_.end()) return false;
        const QRect r = it->second->geometry();
        x = r.x();
        y = r.y();
        cx = r.width();
        cy = r.height();
        return true;
    }

    DialogBaseUnits baseUnits() const override { return units_; }

    bool fileDialog(Dialog&, const FileDialogRequest& request, std::wstring& path) override {
        // Offscreen nobody could answer a picker.
        if (!displayAvailable() || !window_) return false;
        std::filesystem::path start;
        QString proposed;
        if (!request.fileName.empty() && win::hostPath(request.fileName, start))
            proposed = QString::fromStdString(start.string());
        const QString filter = qtFilter(request.filter);
        const QString chosen =
            request.save
                ? QFileDialog::getSaveFileName(window_.get(), qtText(request.title), proposed, filter)
                : QFileDialog::getOpenFileName(window_.get(), qtText(request.title), proposed, filter);
        if (chosen.isEmpty()) return false;
        path = win::windowsPath(std::filesystem::path(chosen.toStdString()));
        if (path.empty()) return false;  // outside the machine's drives
        if (request.save && !request.defaultExtension.empty() &&
            path.find(L'.', path.rfind(L'\\') + 1) == std::wstring::npos)
            path += L"." + request.defaultExtension;
        return true;
    }

    bool folderDialog(Dialog&, std::wstring_view title, std::wstring& path) override {
        if (!displayAvailable() || !window_) return false;
        const QString chosen = QFileDialog::getExistingDirectory(window_.get(), qtText(std::wstring(title)));
        if (chosen.isEmpty()) return false;
        path = win::windowsPath(std::filesystem::path(chosen.toStdString()));
        return !path.empty();
    }

    int shellOpen(std::wstring_view target) override {
        if (!displayAvailable()) return 42;
        return QDesktopServices::openUrl(QUrl(qtText(std::wstring(target)))) ? 42 : 2;
    }

    void beep() override { QApplication::beep(); }

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
                const int id = c.layout.id;
                if (c.layout.styles & style::multiline) {
                    auto* e = new QPlainTextEdit(parent);
                    e->setReadOnly(c.layout.styles & style::readOnly);
                    if (c.layout.styles & style::vscroll)
                        e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                    QObject::connect(e, &QPlainTextEdit::textChanged,
                                     [&d, id, e] { d.userText(id, wideText(e->toPlainText())); });
                    return e;
                }
                auto* e = new QLineEdit(parent);
                e->setReadOnly(c.layout.styles & style::readOnly);
                if (c.layout.styles & style::password) e->setEchoMode(QLineEdit::Password);
                QObject::connect(e, &QLineEdit::textEdited,
                                 [&d, id](const QString& t) { d.userText(id, wideText(t)); });
                return e;
            }
            case ControlKind::button: {
                auto* b = new QPushButton(parent);
                const int id = c.layout.id;
                QObject::connect(b, &QPushButton::clicked, [&d, id] { d.click(id); });
                if (c.layout.styles & style::defaultButton) b->setDefault(true);
                if (c.layout.styles & style::flat) b->setFlat(true);  // Qt raises it under the mouse
                return b;
            }
            case ControlKind::checkBox: {
                auto* b = new QCheckBox(parent);
                const int id = c.layout.id;
                QObject::connect(b, &QCheckBox::clicked, [&d, id] { d.click(id); });
                return b;
            }
            case ControlKind::radioButton: {
                auto* b = new QRadioButton(parent);
                b->setAutoExclusive(false);  // the dialog keeps its groups
                const int id = c.layout.id;
                QObject::connect(b, &QRadioButton::clicked, [&d, id] { d.click(id); });
                return b;
            }
            case ControlKind::groupBox: {
                auto* g = new QGroupBox(parent);
                g->setAttribute(Qt::WA_TransparentForMouseEvents);
                return g;
            }
            case ControlKind::comboBox:
            case ControlKind::dropList: {
                auto* box = new QComboBox(parent);
                const int id = c.layout.id;
                box->setEditable(c.layout.kind == ControlKind::comboBox);
                QObject::connect(box, qOverload<int>(&QComboBox::activated),
                                 [&d, id](int index) { d.userSelect(id, index); });
                if (box->isEditable())
                    QObject::connect(box, &QComboBox::editTextChanged,
                                     [&d, id](const QString& t) { d.userText(id, wideText(t)); });
                return box;
            }
            case ControlKind::listBox: {
                auto* list = new QListWidget(parent);
                const int id = c.layout.id;
                list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
                QObject::connect(list, &QListWidget::currentRowChanged,
                                 [&d, id](int row) { d.userSelect(id, row); });
                return list;
            }
            case ControlKind::image:
                return new ImageView(parent);
            case ControlKind::link:
                return new LinkLabel(parent, d, c.layout.id);
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

    void apply(const ControlState& c, QWidget* w) {
        // What the program sets is not the user's doing: no notifications back.
        const QSignalBlocker quiet(w);
        w->setVisible(c.visible);
        w->setEnabled(c.enabled);
        if (!c.font.name.empty() || c.layout.kind == ControlKind::link) {
            QFont f = font_;
            if (!c.font.name.empty()) {
                f.setFamily(qtText(c.font.name));
                f.setWeight(static_cast<QFont::Weight>(c.font.weight));
                if (c.font.pixelHeight > 0) {
                    // A LOGFONT height is the character cell's: the font's own line height fits in it.
                    f.setPixelSize(c.font.pixelHeight);
                    const int cell = QFontMetrics(f).height();
                    if (cell > c.font.pixelHeight)
                        f.setPixelSize(std::max(1, c.font.pixelHeight * c.font.pixelHeight / cell));
                }
                f.setStyleStrategy(c.font.antialiased ? QFont::PreferAntialias : QFont::NoAntialias);
            }
            if (c.layout.kind == ControlKind::link) f.setUnderline(true);
            w->setFont(f);
        }
        if (c.color) {
            QPalette palette = w->palette();
            palette.setColor(QPalette::WindowText, QColor::fromRgba(c.color));
            w->setPalette(palette);
        }
        if (auto* l = dynamic_cast<QLabel*>(w)) l->setText(qtText(c.text));
        if (auto* b = dynamic_cast<QAbstractButton*>(w)) {
            b->setText(qtText(c.text));
            if (b->isCheckable()) b->setChecked(c.checked != 0);
        }
        if (auto* g = dynamic_cast<QGroupBox*>(w)) g->setTitle(qtText(c.text));
        if (auto* e = dynamic_cast<QPlainTextEdit*>(w)) {
            if (e->toPlainText() != qtText(c.text)) e->setPlainText(qtText(c.text));
        }
        if (auto* e = dynamic_cast<QLineEdit*>(w)) {
            if (e->text() != qtText(c.text)) e->setText(qtText(c.text));
        }
        if (auto* box = dynamic_cast<QComboBox*>(w)) {
            QStringList items;
            for (const auto& item : c.items) items << qtText(item);
            QStringList shown;
            for (int i = 0; i < box->count(); ++i) shown << box->itemText(i);
            if (shown != items) {
                box->clear();
                box->addItems(items);
            }
            box->setCurrentIndex(c.selection);
            if (box->isEditable() && box->currentText() != qtText(c.text)) box->setEditText(qtText(c.text));
        }
        if (auto* list = dynamic_cast<QListWidget*>(w)) {
            QStringList items;
            for (const auto& item : c.items) items << qtText(item);
            QStringList shown;
            for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
            if (shown != items) {
                list->clear();
                list->addItems(items);
            }
            list->setCurrentRow(c.selection);
        }
        if (auto* image = dynamic_cast<ImageView*>(w)) image->set(c.image, c.background);
        if (auto* p = dynamic_cast<QProgressBar*>(w)) p->setValue(c.progress);
    }

    Dialog* dialog_ = nullptr;
    std::chrono::steady_clock::time_point lastActivity_ = std::chrono::steady_clock::now();
    QEventLoop* loop_ = nullptr;
    std::unique_ptr<Window> window_;
    std::map<int, QWidget*> widgets_;
    DialogBaseUnits units_;
    QFont font_;
};

}  // namespace

std::unique_ptr<DialogBackend> makeDialogBackend(bool scripted) {
    if (displayAvailable() || (scripted && qtCanDraw())) return std::make_unique<QtBackend>();
    return std::make_unique<ScriptedBackend>();
}

}  // namespace win::ui
