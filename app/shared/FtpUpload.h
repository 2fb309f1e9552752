#pragma once
// The event handlers every window that owns an FTP control connects to it, and the texts
// callers show for the result codes of FtpUploadFile.

#include <QString>
#include <cstdint>

class FtpClient;
class MontComm1;
class QTimer;

// Replies, data requests, transfer end and state reset of ftp, and the tick of its watchdog,
// update the station's single upload state in comm.
void ConnectFtpEvents(MontComm1& comm, FtpClient& ftp, QTimer& timFtp);

// The error text of a send result code; empty for 0.
QString FtpErrorText(int16_t code, const QString& localPath);
