#pragma once
// The per-unit data logs, the age test of relayed data and the relay files of the working
// directory and its send folder.

#include <QDateTime>
#include <QString>

class Clock;
class InetInf;
class UnitStates;

class DataFiles {
public:
    DataFiles(QString workDir, const Clock& clock, const InetInf& inet, const UnitStates& units);

    static QString DataLogName(int unit);
    const QString& workDir() const { return m_workDir; }
    // Appends the unit's line, stamped now; a log error never stops the caller.
    void WriteDataLog(int unit);
    // The line under the given time: a line held back until its poll ended keeps its tick's second.
    void WriteDataLog(int unit, const QDateTime& stamp);
    // Whether a relay file's data line is younger than the relay time-out.
    bool IsDataFresh(const QString& relayText) const;
    // The same test for a stamp already read from the data line.
    bool IsDataFresh(const QDateTime& stamp) const;

    bool FileExists(const QString& path) const;
    void DeleteLocalFile(const QString& path) const;
    // Writes one empty line into fileName and copies it into the send folder when one is
    // set; false on failure.
    bool CreateRelayFile(const QString& fileName);
    // The file of that name in the send folder (SendFordername, relative to the working directory).
    QString SendFolderPath(const QString& fileName) const;
    // Replaces the send folder's copy of a working-directory file; false on failure.
    bool CopyToSendFolder(const QString& fileName) const;

private:
    QString path(const QString& fileName) const;

    QString m_workDir;
    const Clock& m_clock;
    const InetInf& m_inet;
    const UnitStates& m_units;
};
