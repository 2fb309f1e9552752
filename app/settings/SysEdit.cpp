#include "settings/SysEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

namespace {

QLineEdit* lineEdit(QWidget* parent, const QString& name, const QString& accessible, int digits)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    e->setFixedWidth(DigitsWidth(*e, digits));
    return e;
}

QRadioButton* radio(QWidget* parent, const QString& name, const QString& text)
{
    auto* b = new QRadioButton(text, parent);
    b->setObjectName(name);
    return b;
}

} // namespace

SysEdit::SysEdit(MontComm1& comm, QWidget* parent) : QDialog(parent), m_comm(comm)
{
    setObjectName(QStringLiteral("SysEdit"));
    setWindowTitle(QStringLiteral("システム設定"));
    setModal(true);
    buildControls();
    FixAndCentre(*this);

    if (!m_comm.sys().SysInfValid()) {
        auto table = m_comm.sys().content();
        table.DeviceCount = 0;
        const int c = SysEditRules::CycleOption(table.MonitorSettings.MoniterCyclType);
        Option4[c < 0 ? 0 : c]->setChecked(true);
        table.MonitorSettings.TimeOut = 10;
        const int t = SysEditRules::CycleOption(table.MonitorSettings.TimeOutCyclType);
        Option4[3 + (t < 0 ? 0 : t)]->setChecked(true);
        m_comm.sys().Commit(table);
    }
    RefreshWindow(0);
    m_dirty = false;
    m_channelsText = m_comm.channels().text();
}

void SysEdit::buildControls()
{
    auto* top = new QVBoxLayout(this);

    auto* info = new QGroupBox(QStringLiteral("システム情報設定"), this);
    info->setObjectName(QStringLiteral("Frame1"));
    auto* grid = new QGridLayout(info);
    auto label = [&](const QString& text, int row) {
        auto* l = new QLabel(text, info);
        grid->addWidget(l, row, 0);
        return l;
    };
    auto* nameLabel = label(QStringLiteral("名称"), 0);
    DevName = new QComboBox(info);
    DevName->setObjectName(QStringLiteral("DevName"));
    DevName->setEditable(true);
    DevName->setInsertPolicy(QComboBox::NoInsert);
    DevName->setCompleter(nullptr); // names compare exactly and case-sensitively
    DevName->setAccessibleName(QStringLiteral("名称"));
    // A screen reader focuses the edit box inside, and the box reports its text as its name otherwise.
    DevName->lineEdit()->setAccessibleName(QStringLiteral("名称"));
    DevName->setMinimumWidth(220);
    nameLabel->setBuddy(DevName);
    grid->addWidget(DevName, 0, 1, 1, 7);

    label(QStringLiteral("IPｱﾄﾞﾚｽ"), 1);
    for (int i = 0; i < 4; ++i) {
        IPtext[i] = lineEdit(info, QStringLiteral("IPtext_%1").arg(i), QStringLiteral("IPｱﾄﾞﾚｽ %1").arg(i + 1), 3);
        // No length cap: a stored part such as "0010" must show whole, or the row no longer matches
        // the file and cannot be deleted; the entry rules decide what a save accepts.
        IPtext[i]->setAlignment(Qt::AlignRight);
        grid->addWidget(IPtext[i], 1, 1 + i * 2);
        if (i < 3)
            grid->addWidget(new QLabel(QStringLiteral("."), info), 1, 2 + i * 2);
    }
    auto* lcdLabel = label(QStringLiteral("LCDﾎﾟｰﾄ番号"), 2);
    LCDtext = lineEdit(info, QStringLiteral("LCDtext_0"), lcdLabel->text(), 6);
    grid->addWidget(LCDtext, 2, 1, 1, 3);
    auto* ioLabel = label(QStringLiteral("ﾊﾟﾗﾚﾙﾎﾟｰﾄ番号"), 3);
    IOtext = lineEdit(info, QStringLiteral("IOtext_1"), ioLabel->text(), 6);
    grid->addWidget(IOtext, 3, 1, 1, 3);
    auto* rsLabel = label(QStringLiteral("ｼﾘｱﾙﾎﾟｰﾄ番号"), 4);
    RStext = lineEdit(info, QStringLiteral("RStext_2"), rsLabel->text(), 6);
    grid->addWidget(RStext, 4, 1, 1, 3);
    auto* bpsLabel = label(QStringLiteral("ﾎﾞｰﾚｰﾄ設定"), 5);
    BPScombo = new QComboBox(info);
    BPScombo->setObjectName(QStringLiteral("BPScombo"));
    BPScombo->addItems({QStringLiteral("9600bps"), QStringLiteral("19200bps"), QStringLiteral("38400bps"),
                        QStringLiteral("57600bps"), QStringLiteral("115200bps")});
    BPScombo->setAccessibleName(bpsLabel->text());
    bpsLabel->setBuddy(BPScombo);
    grid->addWidget(BPScombo, 5, 1, 1, 3);
    auto* controlLabel = label(QStringLiteral("監視"), 6);
    auto* control = new QWidget(info);
    control->setObjectName(QStringLiteral("ControlGroup"));
    control->setAccessibleName(controlLabel->text());
    auto* controlRow = new QHBoxLayout(control);
    controlRow->setContentsMargins(0, 0, 0, 0);
    Option3[0] = radio(control, QStringLiteral("Option3_0"), QStringLiteral("有効"));
    Option3[1] = radio(control, QStringLiteral("Option3_1"), QStringLiteral("無効"));
    controlRow->addWidget(Option3[0]);
    controlRow->addWidget(Option3[1]);
    controlRow->addStretch();
    grid->addWidget(control, 6, 1, 1, 7);
    grid->setColumnStretch(8, 1);
    grid->setRowStretch(7, 1);

    auto* cycles = new QVBoxLayout;
    auto cycleFrame = [&](const QString& caption, const QString& name, QLineEdit*& box, const QString& boxName,
                          int first) {
        auto* frame = new QGroupBox(caption, this);
        frame->setObjectName(name);
        frame->setAccessibleName(caption);
        auto* row = new QHBoxLayout(frame);
        box = lineEdit(frame, boxName, caption, 4);
        row->addWidget(box);
        const QStringList units = {QStringLiteral("時"), QStringLiteral("分"), QStringLiteral("秒")};
        for (int k = 0; k < 3; ++k) {
            Option4[first + k] = radio(frame, QStringLiteral("Option4_%1").arg(first + k), units[k]);
            row->addWidget(Option4[first + k]);
        }
        cycles->addWidget(frame);
        return frame;
    };
    cycleFrame(QStringLiteral("モニタ周期設定"), QStringLiteral("Frame3"), Cycltext, QStringLiteral("Cycltext"), 0);
    Frame2 =
        cycleFrame(QStringLiteral("ﾀｲﾑｱｳﾄ設定"), QStringLiteral("Frame2"), TimeComm, QStringLiteral("TimeComm"), 3);
    cycles->addStretch();

    auto* upper = new QHBoxLayout;
    upper->addWidget(info, 1);
    upper->addLayout(cycles);
    top->addLayout(upper);

    auto* pins = new QGroupBox(QStringLiteral("入出力タイプ設定"), this);
    pins->setObjectName(QStringLiteral("Frame4"));
    auto* pinRow = new QHBoxLayout(pins);
    auto pinColumn = [&](const QString& pin, auto& options, const QString& prefix, int first,
                         const QStringList& captions) {
        auto* column = new QWidget(pins);
        column->setObjectName(pin);
        column->setAccessibleName(pin);
        auto* v = new QVBoxLayout(column);
        v->setContentsMargins(2, 0, 2, 0);
        auto* head = new QLabel(pin, column);
        head->setAlignment(Qt::AlignHCenter);
        v->addWidget(head);
        for (int j = 0; j < captions.size(); ++j) {
            options[first + j] = radio(column, QStringLiteral("%1_%2").arg(prefix).arg(first + j), captions[j]);
            v->addWidget(options[first + j]);
        }
        v->addStretch();
        pinRow->addWidget(column);
    };
    for (int k = 0; k < 4; ++k)
        pinColumn(QStringLiteral("RA%1").arg(k), Option1, QStringLiteral("Option1"), 2 * k,
                  {QStringLiteral("non"), QStringLiteral("AnalogIn")});
    pinRow->addSpacing(24);
    for (int k = 0; k < 8; ++k)
        pinColumn(QStringLiteral("RB%1").arg(k), Option2, QStringLiteral("Option2"), 3 * k,
                  {QStringLiteral("non"), QStringLiteral("DigtalIn"), QStringLiteral("DigtalOut")});
    top->addWidget(pins);

    Command1 = FormButton(this, QStringLiteral("Command1"), QStringLiteral("追加"));
    Command3 = FormButton(this, QStringLiteral("Command3"), QStringLiteral("削除"));
    Command5 = FormButton(this, QStringLiteral("Command5"), QStringLiteral("変更"));
    MailSET = FormButton(this, QStringLiteral("MailSET"), QStringLiteral("メール設定"));
    Command4 = FormButton(this, QStringLiteral("Command4"), QStringLiteral("終了"));
    // After the described buttons, so none of them moves.
    LogCmd = FormButton(this, QStringLiteral("LogCmd"), QStringLiteral("ログ保存設定"));
    ChannelCmd = FormButton(this, QStringLiteral("ChannelCmd"), QStringLiteral("チャンネル設定"));
    top->addLayout(FormButtonRow({Command1, Command3, Command5, LogCmd, ChannelCmd}, {MailSET, Command4}));

    connect(DevName, &QComboBox::activated, this, &SysEdit::selectEntry);
    connect(Command1, &QPushButton::clicked, this, &SysEdit::addClick);
    connect(Command3, &QPushButton::clicked, this, &SysEdit::deleteClick);
    connect(Command5, &QPushButton::clicked, this, &SysEdit::changeClick);
    connect(Command4, &QPushButton::clicked, this, &SysEdit::endClick);
    connect(MailSET, &QPushButton::clicked, this, [this] {
        if (showMailSettings)
            showMailSettings(this);
    });
    connect(LogCmd, &QPushButton::clicked, this, [this] {
        if (showLogSettings)
            showLogSettings(this);
    });
    connect(ChannelCmd, &QPushButton::clicked, this, [this] {
        if (showChannelSettings)
            showChannelSettings(this);
        m_channelsText = m_comm.channels().text(); // that window saves what it changed
    });
    connect(Cycltext, &QLineEdit::textEdited, this, [this] { m_dirty = true; });
    connect(TimeComm, &QLineEdit::textEdited, this, [this] { m_dirty = true; });
    // toggled, not clicked: a screen reader changes a button without a click.
    for (QRadioButton* b : Option4)
        connect(b, &QRadioButton::toggled, this, [this] {
            if (!m_showing)
                m_dirty = true;
        });
}

void SysEdit::SetTimeOutGroupEnabled(bool enabled)
{
    Frame2->setEnabled(enabled);
    TimeComm->setEnabled(enabled);
    for (int k = 3; k < 6; ++k)
        Option4[k]->setEnabled(enabled);
}

void SysEdit::RefreshWindow(int sel)
{
    const QScopedValueRollback showing(m_showing, true);
    const auto& ms = m_comm.sys().MonitorSettings();
    Cycltext->setText(QString::number(ms.MoniterCycl));
    const int c = SysEditRules::CycleOption(ms.MoniterCyclType);
    Option4[c < 0 ? 0 : c]->setChecked(true);
    TimeComm->setText(QString::number(ms.TimeOut));
    if (const int t = SysEditRules::CycleOption(ms.TimeOutCyclType); t >= 0)
        Option4[3 + t]->setChecked(true);

    DevName->clear();
    const int count = m_comm.sys().unitCount();
    for (int r = 0; r < count; ++r)
        DevName->addItem(m_comm.sys().cell(r, ColName));
    if (sel >= 0 && sel < count) {
        DevName->setCurrentIndex(sel);
        selectEntry(sel);
    }
    for (int r = 0; r < count; ++r)
        m_snapshot[r] = m_comm.sys().DeviceTable()[r];
}

void SysEdit::selectEntry(int index)
{
    if (index < 0)
        return;
    m_current = index;
    showRow(index);
}

void SysEdit::showRow(int row)
{
    const QScopedValueRollback showing(m_showing, true);
    const UnitFields f = SysEditRules::ShowRow(m_comm.sys().content(), row);
    DevName->setEditText(DevName->itemText(row));
    for (int i = 0; i < 4; ++i)
        IPtext[i]->setText(f.ip[i]);
    LCDtext->setText(f.lcd);
    IOtext->setText(f.io);
    RStext->setText(f.rs);
    BPScombo->setCurrentIndex(f.bpsIndex);
    TimeComm->setText(QString::number(m_comm.sys().MonitorSettings().TimeOut));
    if (const int t = SysEditRules::CycleOption(m_comm.sys().MonitorSettings().TimeOutCyclType); t >= 0)
        Option4[3 + t]->setChecked(true);
    Option3[f.controlOn ? 0 : 1]->setChecked(true);
    for (int k = 0; k < 4; ++k)
        Option1[2 * k + (f.analogIn[k] ? 1 : 0)]->setChecked(true);
    for (int k = 0; k < 8; ++k)
        Option2[3 * k + f.rbType[k]]->setChecked(true);
}

UnitFields SysEdit::fields() const
{
    UnitFields f;
    f.name = DevName->currentText();
    for (int i = 0; i < 4; ++i)
        f.ip[i] = IPtext[i]->text();
    f.lcd = LCDtext->text();
    f.io = IOtext->text();
    f.rs = RStext->text();
    f.bpsIndex = BPScombo->currentIndex();
    for (int k = 0; k < 4; ++k)
        f.analogIn[k] = Option1[2 * k + 1]->isChecked();
    for (int k = 0; k < 8; ++k)
        f.rbType[k] = Option2[3 * k + 1]->isChecked() ? 1 : Option2[3 * k + 2]->isChecked() ? 2 : 0;
    f.controlOn = Option3[0]->isChecked();
    return f;
}

// The list entry the name box shows; a typed name that matches no entry selects none.
int SysEdit::selectedEntry() const
{
    const QString text = DevName->currentText();
    const int i = DevName->currentIndex();
    if (i >= 0 && DevName->itemText(i) == text)
        return i;
    return DevName->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void SysEdit::warn(const QString& text, const QString& title)
{
    m_comm.messages().show(text, title, MessageBoxService::Icon::Exclamation, MessageBoxService::Buttons::Ok);
}

bool SysEdit::ask(const QString& text, const QString& title)
{
    return AskOkCancel(m_comm.messages(), text, title);
}

bool SysEdit::ValidateEntry(EntryMode mode)
{
    const auto failure =
        SysEditRules::ValidateEntry(m_comm.sys().content(), fields(), mode, m_current, selectedEntry());
    if (failure)
        warn(*failure, QStringLiteral("確認"));
    return !failure;
}

bool SysEdit::TableChanged() const
{
    for (int r = 0; r < m_comm.sys().unitCount(); ++r)
        for (int c = 0; c < ColArm; ++c)
            if (m_comm.sys().cell(r, c) != m_snapshot[r][c])
                return true;
    return false;
}

void SysEdit::addClick()
{
    if (!ValidateEntry(EntryMode::Add))
        return;
    if (!ask(QStringLiteral("追加してもよろしいですか？"), QStringLiteral("追加")))
        return;
    if (m_comm.sys().DeviceCount() >= UnitSlots) {
        warn(QStringLiteral("最大登録件数(100)を超えました．"), QStringLiteral("追加"));
        return;
    }
    const int n = DevName->count();
    auto table = m_comm.sys().content();
    SysEditRules::StoreRow(table, n, fields());
    ++table.DeviceCount;
    m_comm.sys().Commit(table);
    RefreshWindow(n);
    if (n < UnitSlots) {
        auto inet = m_comm.inet().InternetSettings();
        inet.FileName[n].clear();
        m_comm.inet().Commit(inet);
    }
    m_comm.channels().setUnit(n, {}); // a new unit starts with no channel words
    m_dirty = true;
}

void SysEdit::deleteClick()
{
    if (!ValidateEntry(EntryMode::Del))
        return;
    if (m_comm.sys().DeviceCount() <= 1)
        return; // the last unit stays
    if (!ask(QStringLiteral("削除してもよろしいですか？"), QStringLiteral("削除")))
        return;
    const int unit = selectedEntry();
    auto table = m_comm.sys().content();
    auto inet = m_comm.inet().InternetSettings();
    SysEditRules::DeleteUnit(table, inet.FileName, unit);
    m_comm.sys().Commit(table);
    m_comm.inet().Commit(inet);
    // A channel's tag and scaling stay with their unit, not with its row.
    m_comm.channels().deleteUnit(unit);
    RefreshWindow(0);
    m_dirty = true;
}

void SysEdit::changeClick()
{
    if (!ValidateEntry(EntryMode::Edit))
        return;
    if (!ask(QStringLiteral("変更してもよろしいですか？"), QStringLiteral("変更")))
        return;
    auto table = m_comm.sys().content();
    SysEditRules::StoreRow(table, m_current, fields());
    m_comm.sys().Commit(table);
    m_dirty = true;
}

void SysEdit::endClick()
{
    if (m_dirty) {
        // A cycle or time-out of 0 is refused by the next load, which would then drop every unit.
        const int16_t cycle = SysEditRules::CycleValue(Cycltext->text());
        const int16_t timeOut = SysEditRules::CycleValue(TimeComm->text());
        if (cycle < 1) {
            warn(QStringLiteral("モニタ周期は1以上の数値を入力してください"), QStringLiteral("確認"));
            return;
        }
        if (timeOut < 1) {
            warn(QStringLiteral("ﾀｲﾑｱｳﾄは1以上の数値を入力してください"), QStringLiteral("確認"));
            return;
        }
        auto ms = m_comm.sys().MonitorSettings();
        ms.MoniterCycl = cycle;
        for (int k = 0; k < 3; ++k)
            if (Option4[k]->isChecked())
                ms.MoniterCyclType = SysEditRules::CycleLetter(k);
        ms.TimeOut = timeOut;
        for (int k = 0; k < 3; ++k)
            if (Option4[3 + k]->isChecked())
                ms.TimeOutCyclType = SysEditRules::CycleLetter(k);
        m_comm.sys().SetMonitorSettings(ms);
    }
    if (TableChanged() || m_dirty) {
        auto ms = m_comm.sys().MonitorSettings();
        SysEditRules::FillUnsetRetry(ms);
        m_comm.sys().SetMonitorSettings(ms);
        Notify(m_comm.messages(), m_comm.sys().SaveSysInf());
        Notify(m_comm.messages(), m_comm.inet().SaveInetInf());
    }
    if (m_comm.channels().text() != m_channelsText)
        Notify(m_comm.messages(), m_comm.channels().save(m_comm.messages()));
    accept();
}
