// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/print.h"

#include "common/translate.h"
#include "platform/log.h"
#include "platform/user_message.h"
#include "ui/print_wrap.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <array>
#include <cmath>
#include <cstdint>
#include <new>
#include <string_view>
#include <unordered_map>

namespace {

PrintPrinterSource& printerSource() {
    static PrintPrinterSource source;
    return source;
}

QPointer<QDialog>& cancelWindow() {
    static QPointer<QDialog> window;
    return window;
}

// A short number that tells objects apart in the log, as the handles did.
unsigned logId(const void* p) {
    return unsigned(reinterpret_cast<uintptr_t>(p));
}

std::unique_ptr<QPrinter> dialogPrinter(QWidget* owner, bool selectionAllowed,
                                        bool* selectionChosen) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), owner);
    QAbstractPrintDialog::PrintDialogOptions options =
        QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize;
    if (selectionAllowed) options |= QAbstractPrintDialog::PrintSelection;
    dialog.setOptions(options);
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    if (!printer->isValid()) {
        UserMsg_Show("Inboxwarden", IW_N_("Inboxwarden", "Printer dialog failed (1)"),
                     UM_OK | UM_ICONERROR);
        return nullptr;
    }
    *selectionChosen = selectionAllowed && printer->printRange() == QPrinter::Selection;
    return printer;
}

// The field's text, and its selection when it has one. The selection comes
// with the document's own paragraph and line separators, which print as
// line feeds like the rest of the text.
struct FIELD_TEXT {
    QString all;
    QString selected;
    bool hasSelection = false;
};

bool readField(QWidget* field, FIELD_TEXT& out) {
    QTextCursor cursor;
    if (auto* edit = qobject_cast<QTextEdit*>(field)) {
        out.all = edit->toPlainText();
        cursor = edit->textCursor();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(field)) {
        out.all = plain->toPlainText();
        cursor = plain->textCursor();
    } else {
        return false;
    }
    out.hasSelection = cursor.selectionStart() != cursor.selectionEnd();
    if (out.hasSelection) {
        out.selected = cursor.selectedText();
        out.selected.replace(QChar::ParagraphSeparator, u'\n');
        out.selected.replace(QChar::LineSeparator, u'\n');
        out.selected.replace(QChar::Nbsp, u' ');
    }
    return true;
}

// Pen advances in the printer's pixels, the same for measuring and drawing:
// a tab goes to the next stop, control characters take no room and are not
// drawn. Most text is ASCII, so those advances are kept in a table.
class Advances {
  public:
    Advances(const QFont& font, QPaintDevice* device, double tabStop)
        : metrics_(font, device), tabStop_(tabStop > 0 ? tabStop : 1) {
        ascii_.fill(-1);
    }

    double operator()(char32_t c, double x) {
        if (c == U'\t') return (std::floor(x / tabStop_) + 1) * tabStop_;
        if (isControl(c)) return x;
        if (c < ascii_.size()) {
            if (ascii_[c] < 0) ascii_[c] = measure(c);
            return x + ascii_[c];
        }
        auto [it, added] = other_.try_emplace(c, 0.0);
        if (added) it->second = measure(c);
        return x + it->second;
    }

    static bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7f && c < 0xa0); }

  private:
    double measure(char32_t c) const {
        return metrics_.horizontalAdvance(QString::fromUcs4(&c, 1));
    }

    QFontMetricsF metrics_;
    double tabStop_;
    std::array<double, 128> ascii_{};
    std::unordered_map<char32_t, double> other_;
};

// Draws one printed line with its top at `y`: the runs between tabs each at
// the pen position the measuring gave them.
void drawLine(QPainter& painter, std::u32string_view line, double y, double ascent,
              Advances& advances) {
    double x = 0;
    double runX = 0;
    std::u32string run;
    auto flush = [&] {
        if (!run.empty())
            painter.drawText(QPointF(runX, y + ascent),
                             QString::fromUcs4(run.data(), qsizetype(run.size())));
        run.clear();
    };
    for (char32_t c : line) {
        const double next = std::max(x, advances(c, x));
        if (c == U'\t') {
            flush();
            runX = next;
        } else if (!Advances::isControl(c)) {
            if (run.empty()) runX = x;
            run.push_back(c);
        }
        x = next;
    }
    flush();
}

// The small modeless window of a running job. Cancel beeps and aborts; the
// print loop sees the flag at its next page break.
struct PRINT_JOB {
    QPrinter* printer = nullptr;
    bool aborted = false;
};

QDialog* makeCancelWindow(QWidget* owner, PRINT_JOB& job) {
    auto* window = new QDialog(owner);
    window->setWindowTitle("Inboxwarden");
    window->setModal(false);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(QCoreApplication::translate("Print", "Printing..."), window));
    auto* cancel = new QPushButton("Cancel", window);
    cancel->setObjectName("cancel");
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    QObject::connect(cancel, &QPushButton::clicked, window, [&job, cancel] {
        QApplication::beep();
        job.printer->abort();
        job.aborted = true;
        cancel->setEnabled(false);
    });
    // Closing the window is a cancel too, or the job would run on unseen.
    QObject::connect(window, &QDialog::rejected, cancel, &QPushButton::click);
    window->show();
    return window;
}

// Re-enables the field, whatever way the job ends, unless it went away while
// the job let events through.
class FieldDisabled {
  public:
    explicit FieldDisabled(QWidget* field) : field_(field) { field_->setEnabled(false); }
    ~FieldDisabled() {
        if (field_) field_->setEnabled(true);
    }
    FieldDisabled(const FieldDisabled&) = delete;
    FieldDisabled& operator=(const FieldDisabled&) = delete;

  private:
    QPointer<QWidget> field_;
};

// Prints `text` on `printer`; the printer's job is already chosen.
void printText(QPrinter& printer, QWidget* field, std::u32string_view text) {
    PRINT_JOB job{&printer};
    FieldDisabled disabled(field);
    QPointer<QDialog> window = makeCancelWindow(field ? field->window() : nullptr, job);
    cancelWindow() = window;

    QPainter painter;
    if (!painter.begin(&printer)) {
        Log_Write(LOG_PRINT, "PRN: *****StartDoc FAILED: %d ; Error: 0x%x (%d)\n", 0,
                  unsigned(printer.printerState()), int(printer.printerState()));
        delete window.data();
        // A document that never started printed nothing: the user must know.
        UserMsg_Show(IW_N_("Inboxwarden", "Error"), IW_N_("Inboxwarden", "Can't start printing."),
                     UM_OK | UM_ICONERROR);
        return;
    }
    Log_Write(LOG_PRINT, "PRN: ***** StartDoc : %d, printerDC: 0x%x ; abortWnd: 0x%x\n", 1,
              logId(&printer), logId(window.data()));

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(10);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &printer);
    const double w = metrics.horizontalAdvance(QStringLiteral("C"));
    const double h = metrics.height();
    const int pageW = printer.width();
    const int pageH = printer.height();
    const size_t perLine = w > 0 ? size_t(std::max(1.0, std::floor(pageW / w))) : 1;
    Log_Write(LOG_PRINT, "PRN:\t Printing params:\n\t\t charSize      : %d\n", int(std::lround(w)));
    Log_Write(LOG_PRINT, "\t\t x_pageSize    : %d\n", pageW);
    Log_Write(LOG_PRINT, "\t\t y_pageSize    : %d\n", pageH);
    Log_Write(LOG_PRINT, "\t\t numCharsInLine: %d\n", int(perLine));

    Advances advances(font, &printer, 8 * w);
    const PrintAdvance advance = [&advances](char32_t c, double x) { return advances(c, x); };
    QElapsedTimer sinceEvents;
    double y = 0;
    size_t pos = 0;
    size_t lineFeed = text.find(U'\n');
    for (;;) {
        // Cancel can only be pressed while events flow; often enough to feel
        // at once, rarely enough to cost nothing on a long text.
        if (!sinceEvents.isValid() || sinceEvents.elapsed() >= 15) {
            QApplication::processEvents();
            sinceEvents.start();
        }
        if (y + h > pageH) {
            if (job.aborted) {
                Log_Write(LOG_PRINT, "PRN:----------> Printing is ABORTED\n");
                break;
            }
            if (printer.newPage()) {
                Log_Write(LOG_PRINT, "PRN: *****(0) EndPage: %d; printerDC: 0x%x\n", 1,
                          logId(&printer));
                Log_Write(LOG_PRINT, "PRN:*****(0) StartPage: %d\n", 1);
            } else {
                Log_Write(LOG_PRINT, "PRN: *****(0) EndPage FAILED: %d; printerDC: 0x%x\n", 0,
                          logId(&printer));
                Log_Write(LOG_PRINT, "PRN:*****(0) StartPage FAILED: %d\n", 0);
            }
            y = 0;
        }
        lineFeed = PrintWrap_LineFeed(text, pos, lineFeed);
        const PRINT_LINE line = PrintWrap_NextLine(text, pos, lineFeed, pageW, perLine, advance);
        drawLine(painter, text.substr(pos, line.length), y, metrics.ascent(), advances);
        pos = line.next;
        if (pos >= text.size()) break;
        y += h;
    }

    if (!job.aborted) {
        if (!painter.end()) Log_Write(LOG_PRINT, "PRN: *****EndDoc FAILED\n");
        Log_Write(LOG_PRINT, "PRN:***** Print Window Text is Done ******\n"
                             "******************************************\n");
    } else {
        // Not every engine can abort (the PDF one cannot); ending its
        // painter writes the file, so a cancelled file is taken back.
        const bool engineAborted = printer.printerState() == QPrinter::Aborted;
        painter.end();
        if (!engineAborted && !printer.outputFileName().isEmpty())
            QFile::remove(printer.outputFileName());
        Log_Write(LOG_PRINT, "PRN:***** Print Window Text is ABORTED ***\n"
                             "******************************************\n");
    }
    // Deleted, not closed: closing is the user's cancel.
    delete window.data();
}

} // namespace

PrintPrinterSource Print_SetPrinterSource(PrintPrinterSource source) {
    PrintPrinterSource old = std::move(printerSource());
    printerSource() = std::move(source);
    return old;
}

QWidget* Print_CancelWindow() {
    return cancelWindow().data();
}

void Print_WindowText(const std::string* heading, QWidget* field) {
    Log_Write(LOG_PRINT, "***** Print Window Text (wnd %x) *****\n", logId(field));
    FIELD_TEXT fieldText;
    if (!field || !readField(field, fieldText)) {
        Log_Write(LOG_PRINT, "PRN: ERROR: no text field to print\n");
        return;
    }

    bool selectionChosen = false;
    const PrintPrinterSource& source = printerSource();
    std::unique_ptr<QPrinter> printer =
        source ? source(field->window(), fieldText.hasSelection, &selectionChosen)
               : dialogPrinter(field->window(), fieldText.hasSelection, &selectionChosen);
    if (!printer) {
        Log_Write(LOG_PRINT, "PRN: ***** ERROR: Printer is not selected ****\n");
        Log_Write(LOG_PRINT, "PRN: ERROR: DC==NULL\n");
        return;
    }
    Log_Write(LOG_PRINT, "PRN: ***** Printer (0x%x) is selected ****\n", logId(printer.get()));
    if (!fieldText.hasSelection) selectionChosen = false;

    std::u32string text;
    try {
        QString buffer;
        if (heading)
            buffer = QString::fromUtf8(heading->data(), qsizetype(heading->size())) + u'\n';
        buffer += selectionChosen ? fieldText.selected : fieldText.all;
        fieldText = {};
        const QByteArray utf8 = buffer.toUtf8();
        Log_Write(LOG_PRINT,
                  "PRN:\tText Len: %d\nPRN:\t******** text start ********\n%s\nPRN:\t**********"
                  " text end ********\n",
                  int(utf8.size()), utf8.constData());
        text = buffer.toStdU32String();
    } catch (const std::bad_alloc&) {
        UserMsg_Show(IW_N_("Inboxwarden", "Error"), IW_N_("Inboxwarden", "No memory."),
                     UM_OK | UM_ICONERROR);
        return;
    }
    printText(*printer, field, text);
}
