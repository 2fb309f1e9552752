#include "VBRas32.h"

#include "DialUpBackend.h"

VBRas32::VBRas32(DialUpBackend* backend, QObject* parent) : QObject(parent), m_backend(backend)
{
    RefreshEntries();
}

int32_t VBRas32::RefreshEntries()
{
    if (!m_backend)
        return DialUpError::ServiceUnavailable;
    std::vector<QString> names;
    const int32_t rc = m_backend->entries(names);
    if (rc == 0) {
        m_entries.clear();
        for (const auto& n : names)
            m_entries << n;
    }
    return rc;
}

int32_t VBRas32::Dialup()
{
    int32_t handle = 0;
    int32_t rc = DialUpError::ServiceUnavailable;
    if (m_backend && Entry)
        rc = m_backend->dial(*Entry, UserID.value_or(QString()), Password.value_or(QString()), handle);
    else if (m_backend)
        rc = DialUpError::EntryNotFound;
    m_connection = rc == 0 ? handle : 0;
    if (rc != 0) {
        if (m_backend && handle)
            m_backend->hangUp(handle);
        m_connection = 0;
        emit ConnectError(rc);
    } else {
        emit ConnectComplete();
    }
    return rc;
}

int32_t VBRas32::HangUp()
{
    const int32_t rc = m_backend ? m_backend->hangUp(m_connection) : DialUpError::ServiceUnavailable;
    m_connection = 0;
    return rc;
}

QString VBRas32::ErrMsg(int32_t code) const
{
    return DialUpError::text(code);
}

bool VBRas32::SeekEnumConns(const QString& entryName, bool set)
{
    if (!m_backend)
        return false;
    std::vector<ActiveDialUp> open;
    if (m_backend->active(open) != 0)
        return false;
    for (size_t i = 0; i < open.size() && i < 2; ++i) {
        if (open[i].entry == entryName) {
            if (set) {
                Entry = entryName;
                m_connection = open[i].handle;
            }
            return true;
        }
    }
    return false;
}
