#pragma once
// The channel settings window "チャンネル設定", opened from the system settings: a unit's
// twelve channels in a table, edited in place (tag name, unit text and scaling for RA0..RA3,
// tag name and ON/OFF words for RB0..RB7), with a raw value converted as a preview. It edits a
// copy of the station's channel table and puts it in place when saved.

#include "shared/ChannelTable.h"

#include <QDialog>

class MessageBoxService;
class MontComm1;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class ChannelEdit : public QDialog {
    Q_OBJECT
public:
    ChannelEdit(MontComm1& comm, QWidget* parent = nullptr);

    // Whether a changed table was saved (it is then the station's at once).
    bool saved() const { return m_saved; }

private:
    void showUnit(int unit);
    // The grid into the copy; false (after saying which cell is wrong) when a row is not a line.
    bool takeGrid();
    void preview();
    // The row's cells that belong to the channel's kind, trimmed; the others empty.
    QStringList rowCells(int channel) const;
    int unitAt(int index) const;

    QComboBox* UnitCombo = nullptr;
    QTableWidget* ChannelGrid = nullptr;
    QLineEdit* RawText = nullptr;
    QLabel* PreviewText = nullptr;
    QPushButton* OKCmd = nullptr;
    QPushButton* CancelCmd = nullptr;

    MontComm1& m_comm;
    MessageBoxService& m_messages;
    ChannelTable m_table;
    int m_shown = -1; // the combo index the grid holds
    bool m_saved = false;
};
