#include "engine/BackupEngine.h"

TTransferBytes TBackupEngine::HttpBytes(const TNMHTTP& client) {
    if (!client.Capturing())
        return {};
    return {client.BytesReceived(), client.BytesExpected()};
}

// A scan arrives over the session's data connection; the RETR reply announced its size.
TTransferBytes TBackupEngine::FtpBytes() const {
    const TPowersock* data = NMFTP1.DataConnection();
    if (data == nullptr || !data->Capturing())
        return {};
    return {data->BytesReceived(), NMFTP1.BytesExpected()};
}
