// The channel settings window driven by its controls on a temporary working directory.

#include "settings/ChannelEdit.h"
#include "Station.h"
#include "SysInfWriter.h"
#include "WindowDriver.h"

#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <gtest/gtest.h>

TEST(ChannelEdit, EditsAUnitsChannelsInPlaceRefusesBadCellsByNameAndSavesForTheStation)
{
    Station st;
    TextFile::writeWhole(st.path("sysinf001.csv"), sysInfText({UnitRow{QStringLiteral("ポンプ室")}, UnitRow{"槽"}}));
    ASSERT_TRUE(st.comm.sys().LoadSysInf());
    ChannelEdit w(st.comm);
    w.show();
    EXPECT_EQ(control<QComboBox>(w, "UnitCombo")->count(), 2);
    QTableWidget* grid = control<QTableWidget>(w, "ChannelGrid");
    const auto put = [&](int row, const QStringList& cells) {
        for (int k = 0; k < cells.size(); ++k)
            if (grid->item(row, k)->flags() & Qt::ItemIsEditable)
                grid->item(row, k)->setText(cells[k]);
    };
    EXPECT_FALSE(grid->item(0, 7)->flags() & Qt::ItemIsEditable) << "no ON word for an analogue channel";
    EXPECT_FALSE(grid->item(4, 2)->flags() & Qt::ItemIsEditable) << "no scaling for a pin";
    put(0, {"水位", "m", "0", "1000", "0", "10", "2"});
    put(4, {"ポンプ1", "", "", "", "", "", "", "運転", "停止"});
    grid->setCurrentCell(0, 0);
    setText(w, "RawText", "500");
    EXPECT_EQ(control<QLabel>(w, "PreviewText")->text(), QStringLiteral("RA0 水位：生値 500 → 5.00 m"));
    snap(w, QStringLiteral("ChannelEdit"));

    // A range of no width, or a word where a number goes: said with the cell, nothing saved.
    put(1, {"圧力", "MPa", "4", "4", "0", "1", "3"});
    click(w, "OKCmd");
    put(1, {"圧力", "MPa", "4", "20", "0", "x", "3"});
    control<QComboBox>(w, "UnitCombo")->setCurrentIndex(1);
    emit control<QComboBox>(w, "UnitCombo")->activated(1);
    EXPECT_EQ(st.messageTexts(),
              (QStringList{"RA1 の生値下限と生値上限が同じです", "RA1 の工学値上限が数値ではありません"}));
    EXPECT_EQ(control<QComboBox>(w, "UnitCombo")->currentIndex(), 0) << "the unit stays until its row is mended";
    EXPECT_FALSE(QFile::exists(st.path("ChannelInf.csv")));

    put(1, {"", "", "", "", "", "", ""}); // an empty row is no line
    emit control<QComboBox>(w, "UnitCombo")->activated(1);
    put(2, {"扉", "", "0", "1", "0", "1", "0"});
    click(w, "OKCmd");
    EXPECT_TRUE(w.saved());
    ASSERT_EQ(st.comm.channels().lines().size(), 3u) << "the station's table at once";
    EXPECT_EQ(st.comm.channels().find(0, 0)->text(500), QStringLiteral("5.00"));
    EXPECT_EQ(st.comm.channels().find(1, 2)->name, QStringLiteral("扉"));
    EXPECT_TRUE(QFile::exists(st.path("ChannelInf.csv")));
}
