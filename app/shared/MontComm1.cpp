// The station's shared parts and its one dial-up line.

#include "shared/MontComm1.h"

#include "platform/DialUpBackend.h"
#include "shared/DialUpLine.h"
#include "shared/TableWords.h"

#include <QDir>

MontComm1::MontComm1(QString workDir, MessageBoxService& messages, const Clock& clock)
    : m_workDir(std::move(workDir))
    , m_messages(messages)
    , m_clock(clock)
    , m_sys(m_workDir, messages)
    , m_inet(m_workDir, messages, m_sys)
    , m_files(m_workDir, clock, m_inet, m_units)
    , m_journal(m_workDir, clock)
    , m_mqtt(m_workDir, m_sys, m_units, m_channels, clock)
    , m_alarms({m_workDir, m_inet, m_sys, m_journal, messages, [this]() -> DialUpLine& { return dialUpLine(); },
                m_ftpStepTimeOutMs})
{
}

MontComm1::~MontComm1()
{
    // The mail first: it may hold a lease on the line. Nothing is left dialled.
    m_alarms.StopMail();
    if (m_line)
        if (const int32_t rc = m_line->close(); rc != 0)
            m_journal.Record(JournalEvent::HangUpFailed, -1, QString(), DialUpError::text(rc));
    m_line.reset();
}

QString MontComm1::path(const QString& fileName) const
{
    return QDir(m_workDir).filePath(fileName);
}

DialUpLine& MontComm1::dialUpLine()
{
    if (!m_line)
        m_line = std::make_unique<DialUpLine>();
    m_line->Backend = m_dialUpBackend;
    return *m_line;
}

void MontComm1::setDialUpBackend(DialUpBackend* backend)
{
    m_dialUpBackend = backend;
    if (m_line)
        m_line->Backend = backend;
}
