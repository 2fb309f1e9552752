#pragma once
// The report window "帳票": 日報 or 月報, one unit or all, a day or a month; a preview of the
// figures and "CSV保存". The figures are made on a thread of their own with progress shown, so
// monitoring never waits; opened beside it from the main window and the detail monitor.

#include "shared/ReportFigures.h"

#include <QWidget>
#include <memory>
#include <thread>

class Clock;
class MessageBoxService;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableView;
class SysInf;

class ReportWindow : public QWidget {
    Q_OBJECT
public:
    ReportWindow(const SysInf& sys, QString workDir, const Clock& clock, MessageBoxService& messages,
                 QWidget* parent = nullptr);
    ~ReportWindow() override;

    // Makes the figures of the choice shown (as "作成" does).
    void make();
    // Writes the figures made into folder (as "CSV保存" does after its folder dialog).
    void saveTo(const QString& folder);
    // Writes the figures made as a PDF into folder (as "PDF保存" does after its folder dialog).
    void savePdfTo(const QString& folder);
    bool busy() const { return m_worker.joinable() && !m_done; }

signals:
    void made();

private:
    void kindChanged();
    void finished(std::vector<Report::UnitFigures> figures, std::vector<QStringList> rows);
    void stopWorker();
    void saveAuto();

    QRadioButton* OptDaily = nullptr;
    QRadioButton* OptMonthly = nullptr;
    QComboBox* UnitCombo = nullptr;
    QDateEdit* DateEdit = nullptr;
    QPushButton* MakeCmd = nullptr;
    QPushButton* SaveCmd = nullptr;
    QPushButton* PdfCmd = nullptr;
    QPushButton* PrintCmd = nullptr;
    // Made by themselves (ReportInf.ini), saved as they are ticked.
    QCheckBox* AutoDaily = nullptr;
    QCheckBox* AutoMonthly = nullptr;
    QCheckBox* AutoMail = nullptr;
    QProgressBar* Progress = nullptr;
    QTableView* Preview = nullptr;
    QLabel* StatusLabel = nullptr;

    const SysInf& m_sys;
    QString m_workDir;
    const Clock& m_clock;
    MessageBoxService& m_messages;
    class RowsModel;
    RowsModel* m_model = nullptr;
    std::vector<Report::UnitFigures> m_figures;
    Report::Kind m_kind = Report::Kind::Daily;
    QDate m_date;
    std::thread m_worker;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> m_done{true};
};
