#include "reports/ReportWindow.h"

#include "platform/Clock.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"
#include "reports/ReportPdf.h"
#include "reports/ReportSchedule.h"
#include "shared/SysInf.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSysInfo>
#include <QRadioButton>
#include <QAbstractTableModel>
#include <QTableView>
#include <QVBoxLayout>

// The preview's rows as they are: a month of 100 units is tens of thousands of rows, which items
// would make the UI thread build one by one.
class ReportWindow::RowsModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(std::vector<QStringList> rows)
    {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() || m_rows.empty() ? 0 : int(m_rows.size()) - 1;
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() || m_rows.empty() ? 0 : int(m_rows.front().size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return m_rows[size_t(index.row()) + 1].value(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || m_rows.empty())
            return {};
        return m_rows.front().value(section);
    }

private:
    std::vector<QStringList> m_rows; // the header first
};

ReportWindow::ReportWindow(const SysInf& sys, QString workDir, const Clock& clock, MessageBoxService& messages,
                           QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_sys(sys)
    , m_workDir(std::move(workDir))
    , m_clock(clock)
    , m_messages(messages)
{
    setObjectName(QStringLiteral("ReportWindow"));
    setWindowTitle(QStringLiteral("帳票"));
    auto* top = new QVBoxLayout(this);
    auto* choice = new QHBoxLayout;
    OptDaily = new QRadioButton(QStringLiteral("日報"), this);
    OptDaily->setObjectName(QStringLiteral("OptDaily"));
    OptMonthly = new QRadioButton(QStringLiteral("月報"), this);
    OptMonthly->setObjectName(QStringLiteral("OptMonthly"));
    OptDaily->setChecked(true);
    UnitCombo = new QComboBox(this);
    UnitCombo->setObjectName(QStringLiteral("UnitCombo"));
    UnitCombo->setAccessibleName(QStringLiteral("ユニット"));
    UnitCombo->addItem(QStringLiteral("全ユニット"), -1);
    for (int unit : Report::TableUnits(sys))
        UnitCombo->addItem(QStringLiteral("%1 %2").arg(unit, 3, 10, QLatin1Char('0')).arg(sys.cell(unit, ColName)),
                           unit);
    DateEdit = new QDateEdit(m_clock.now().date().addDays(-1), this);
    DateEdit->setObjectName(QStringLiteral("DateEdit"));
    DateEdit->setAccessibleName(QStringLiteral("日付"));
    DateEdit->setCalendarPopup(true);
    MakeCmd = FormButton(this, QStringLiteral("MakeCmd"), QStringLiteral("作成"));
    SaveCmd = FormButton(this, QStringLiteral("SaveCmd"), QStringLiteral("CSV保存"));
    SaveCmd->setEnabled(false);
    PdfCmd = FormButton(this, QStringLiteral("PdfCmd"), QStringLiteral("PDF保存"));
    PrintCmd = FormButton(this, QStringLiteral("PrintCmd"), QStringLiteral("印刷"));
    PdfCmd->setEnabled(false);
    PrintCmd->setEnabled(false);
    for (QWidget* w :
         std::initializer_list<QWidget*>{OptDaily, OptMonthly, UnitCombo, DateEdit, MakeCmd, SaveCmd, PdfCmd, PrintCmd})
        choice->addWidget(w);
    choice->addStretch();
    top->addLayout(choice);
    auto* automatic = new QHBoxLayout;
    AutoDaily = new QCheckBox(QStringLiteral("日報を毎日 0:05 に作る"), this);
    AutoDaily->setObjectName(QStringLiteral("AutoDaily"));
    AutoMonthly = new QCheckBox(QStringLiteral("月報を毎月 1 日に作る"), this);
    AutoMonthly->setObjectName(QStringLiteral("AutoMonthly"));
    AutoMail = new QCheckBox(QStringLiteral("作った帳票をメールで送る"), this);
    AutoMail->setObjectName(QStringLiteral("AutoMail"));
    ReportSettings settings;
    const Outcome loaded = LoadReportInf(m_workDir, settings);
    if (loaded.fault != Fault::NotLoaded) // no file yet: nothing is made by itself
        Notify(m_messages, loaded);
    AutoDaily->setChecked(settings.Daily == 1);
    AutoMonthly->setChecked(settings.Monthly == 1);
    AutoMail->setChecked(settings.Mail == 1);
    for (QCheckBox* b : {AutoDaily, AutoMonthly, AutoMail}) {
        b->setAccessibleName(b->text());
        automatic->addWidget(b);
        connect(b, &QCheckBox::toggled, this, &ReportWindow::saveAuto);
    }
    automatic->addStretch();
    top->addLayout(automatic);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setAccessibleName(QStringLiteral("進み具合"));
    top->addWidget(Progress);
    m_model = new RowsModel(this);
    Preview = new QTableView(this);
    Preview->setObjectName(QStringLiteral("Preview"));
    Preview->setAccessibleName(QStringLiteral("プレビュー"));
    Preview->setModel(m_model);
    Preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Preview->verticalHeader()->setVisible(false);
    Preview->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    Preview->horizontalHeader()->setResizeContentsPrecision(50); // widths from the first rows only
    top->addWidget(Preview, 1);
    StatusLabel = new QLabel(this);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    top->addWidget(StatusLabel);
    resize(980, 560);
    kindChanged();

    connect(OptDaily, &QRadioButton::toggled, this, &ReportWindow::kindChanged);
    connect(MakeCmd, &QPushButton::clicked, this, &ReportWindow::make);
    connect(SaveCmd, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("CSV保存"), m_workDir);
        if (!folder.isEmpty())
            saveTo(folder);
    });
    connect(PdfCmd, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("PDF保存"), m_workDir);
        if (!folder.isEmpty())
            savePdfTo(folder);
    });
    connect(PrintCmd, &QPushButton::clicked, this, [this] {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setFullPage(true);
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() == QDialog::Accepted)
            Report::PaintPages(printer, m_figures, m_kind, m_date, {QSysInfo::machineHostName(), m_clock.now()});
    });
}

ReportWindow::~ReportWindow()
{
    stopWorker();
}

void ReportWindow::stopWorker()
{
    if (!m_worker.joinable())
        return;
    *m_cancel = true; // the unit being read is finished, the rest are not begun
    m_worker.join();
}

void ReportWindow::kindChanged()
{
    DateEdit->setDisplayFormat(OptDaily->isChecked() ? QStringLiteral("yyyy/MM/dd") : QStringLiteral("yyyy/MM"));
}

void ReportWindow::make()
{
    if (busy())
        return; // one at a time: the button is off meanwhile anyway
    stopWorker();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_kind = OptDaily->isChecked() ? Report::Kind::Daily : Report::Kind::Monthly;
    m_date = DateEdit->date();
    const int unit = UnitCombo->currentData().toInt();
    std::vector<int> units = unit < 0 ? Report::TableUnits(m_sys) : std::vector<int>{unit};
    for (QPushButton* b : {MakeCmd, SaveCmd, PdfCmd, PrintCmd})
        b->setEnabled(false);
    Progress->setRange(0, int(units.size()));
    Progress->setValue(0);
    StatusLabel->setText(QStringLiteral("作成中…"));
    m_done = false;
    // The worker reads a copy of the table: the settings windows may change it meanwhile.
    auto sys = std::make_shared<SysInf>(m_sys);
    m_worker = std::thread([this, sys, units, kind = m_kind, date = m_date, now = m_clock.now(), cancel = m_cancel] {
        auto figures = Report::Make(
            m_workDir, *sys, kind, date, units, now,
            [this, cancel](int done, int total) {
                if (!*cancel)
                    QMetaObject::invokeMethod(this, [this, done, total] { Progress->setValue(std::min(done, total)); });
            },
            cancel.get());
        auto rows = Report::FiguresRows(figures, kind);
        if (!*cancel)
            QMetaObject::invokeMethod(this, [this, f = std::move(figures), r = std::move(rows)]() mutable {
                finished(std::move(f), std::move(r));
            });
        m_done = true;
    });
}

void ReportWindow::finished(std::vector<Report::UnitFigures> figures, std::vector<QStringList> rows)
{
    m_worker.join();
    m_figures = std::move(figures);
    const qsizetype count = qsizetype(rows.size()) - 1;
    m_model->setRows(std::move(rows));
    Preview->resizeColumnsToContents();
    for (QPushButton* b : {MakeCmd, SaveCmd, PdfCmd, PrintCmd})
        b->setEnabled(true);
    StatusLabel->setText(QStringLiteral("%1 行").arg(count));
    emit made();
}

void ReportWindow::saveTo(const QString& folder)
{
    const Outcome written = Report::WriteCsv(folder, m_kind, m_date, m_figures);
    if (!written) {
        Notify(m_messages, written);
        return;
    }
    StatusLabel->setText(QStringLiteral("%1 と %2 を保存しました")
                             .arg(Report::FileName(m_kind, m_date, false), Report::FileName(m_kind, m_date, true)));
}

void ReportWindow::savePdfTo(const QString& folder)
{
    const Outcome written =
        Report::WritePdf(folder, m_figures, m_kind, m_date, {QSysInfo::machineHostName(), m_clock.now()});
    if (!written) {
        Notify(m_messages, written);
        return;
    }
    StatusLabel->setText(QStringLiteral("%1 を保存しました").arg(Report::PdfName(m_kind, m_date)));
}

void ReportWindow::saveAuto()
{
    const ReportSettings s{AutoDaily->isChecked() ? 1 : 0, AutoMonthly->isChecked() ? 1 : 0,
                           AutoMail->isChecked() ? 1 : 0};
    Notify(m_messages, SaveReportInf(m_workDir, s));
}
