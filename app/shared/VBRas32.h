#pragma once
// The dial-up wrapper: dials a phone-book entry (a NetworkManager profile here), remembers
// the connection, hangs up, lists entries and open connections, and words error codes. Its
// calls block: the station's own dialling goes through DialUpLine, which runs them on a worker
// and keeps the pause after a hang-up as a timer.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class DialUpBackend;

class VBRas32 : public QObject {
    Q_OBJECT
public:
    explicit VBRas32(DialUpBackend* backend, QObject* parent = nullptr);

    int32_t Connection() const { return m_connection; }
    // Empty text stores an absent value.
    std::optional<QString> PhoneBook, Entry, UserID, Password, Domain;
    void setText(std::optional<QString>& member, const QString& text)
    {
        member = text.isEmpty() ? std::nullopt : std::optional(text);
    }
    int32_t ParentWindow = 0; // the program never sets it: every dial is synchronous
    int32_t EntryCount() const { return int32_t(m_entries.size()); }
    QString EnumEntries(int index) const
    {
        return index >= 0 && index < m_entries.size() ? m_entries[index] : QString();
    }
    int32_t RasEventMsg() const { return 0xCCCD; }

    int32_t RefreshEntries();
    int32_t Dialup();
    int32_t HangUp();
    QString ErrMsg(int32_t code) const;
    bool SeekEnumConns(const QString& entryName, bool set);

signals:
    void ConnectError(int32_t code);
    void ConnectComplete();

private:
    DialUpBackend* m_backend;
    int32_t m_connection = 0;
    QStringList m_entries;
};
