#include "protocol/scanner_protocol.h"

#include <cstring>

#include "base/host.h"
#include "base/strings.h"
#include "base/trace.h"
#include "transport/basic_device.h"

namespace {

// Runs a transfer of size bytes in chunks of at most chunkSize: each chunk's command,
// then the progress after it; the first failed command ends the transfer.
template <class Command, class Progress>
int TransferChunks(unsigned size, unsigned chunkSize, Command command, Progress progress)
{
    unsigned done = 0;
    while (done < size) {
        const unsigned n = chunkSize < size - done ? chunkSize : size - done;
        const int result = command(done, n);
        if (result != RESULT_OK)
            return result;
        done += n;
        progress(done);
    }
    return RESULT_OK;
}

constexpr unsigned char kStartByte = 0x02;
constexpr unsigned kFrameBuffer = 256;
constexpr unsigned kAttempts = 3;
constexpr uint32_t kBusyPauseMs = 60;
constexpr unsigned kAddressBytes = 4;

void PutAddress(unsigned char* out, uint32_t address)
{
    for (unsigned i = 0; i < kAddressBytes; ++i)
        out[i] = static_cast<unsigned char>(address >> (8 * i));
}

}  // namespace

void CScannerProtocol::SendFrame(const void* data, unsigned size)
{
    static_assert(kMaxFrameData + 3 == kFrameBuffer, "start, LEN, data and checksum fill the buffer");
    if (size == 0 || size > kMaxFrameData)
        throw CBasicDevice::CException();
    unsigned char packet[kFrameBuffer];
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const unsigned char len = static_cast<unsigned char>(size);
    unsigned char checksum = len;
    packet[0] = kStartByte;
    packet[1] = len;
    for (unsigned i = 0; i < size; ++i) {
        packet[2 + i] = bytes[i];
        checksum ^= bytes[i];
    }
    packet[2 + size] = checksum;
    if (CTraceSink* trace = device->Trace())
        trace->Frame(device->TraceName(), TraceDirection::Sent, packet, size + 3,
                     CommandName(packet[2]), kTraceNoStatus, nullptr);
    device->Write(packet, size + 3);
}

void CScannerProtocol::ReceiveFrame(void* buffer, unsigned* size)
{
    // The frame as read, from the start byte (or the one stray byte before it) to the
    // checksum, so that a trace shows exactly what came in.
    unsigned char raw[kFrameBuffer + 4];
    unsigned got = 0;
    unsigned dataAt = 0;
    bool valid = false;
    unsigned n = 0;
    CTraceSink* const trace = device->Trace();
    try {
        // Only one stray byte may precede the start byte: a line that was idle can
        // deliver one bit of noise as a byte, anything more means the reply is not to
        // be trusted. The reply time-out is for the first byte only: once a reply has
        // begun, a missing rest costs its own time on the line, not another time-out.
        raw[got++] = device->ReadByte();
        if (raw[0] != kStartByte) {
            device->ReadRest(raw + got, 1);
            ++got;
        }
        if (raw[got - 1] == kStartByte) {
            device->ReadRest(raw + got, 1);
            const unsigned char len = raw[got++];
            n = len == 0 ? kFrameBuffer : len;
            dataAt = got;
            device->ReadRest(raw + dataAt, n + 1);   // the data and the checksum
            got += n + 1;
            unsigned char checksum = len;
            for (unsigned i = 0; i < n; ++i)
                checksum ^= raw[dataAt + i];
            valid = raw[got - 1] == checksum;
        }
    } catch (const CBasicDevice::CException&) {
        if (trace)
            TraceReceived(raw, got, dataAt, got == 0 ? "no reply" : "incomplete");
        throw;
    }
    if (!valid) {
        if (trace)
            TraceReceived(raw, got, dataAt, "broken");
        // Swallow the rest of the broken reply so that it cannot pass for the next one;
        // the line falls quiet within a few character times.
        device->Drain();
        throw CBasicDevice::CException();
    }
    if (trace)
        TraceReceived(raw, got, dataAt, nullptr);
    if (*size > n)
        *size = n;
    std::memcpy(buffer, raw + dataAt, *size);
}

void CScannerProtocol::TraceReceived(const unsigned char* raw, unsigned size, unsigned dataAt,
                                     const char* note) const
{
    // dataAt is 0 until a length byte was read: nothing decodes before it.
    const unsigned data = dataAt != 0 && size > dataAt ? size - dataAt : 0;
    const char* command = data >= 1 ? CommandName(raw[dataAt]) : "?";
    const int status = data >= 2 ? raw[dataAt + 1] : kTraceNoStatus;
    device->Trace()->Frame(device->TraceName(), TraceDirection::Received, raw, size, command,
                           status, note);
}

int CScannerProtocol::Execute(unsigned char opcode, void* reply, unsigned replySize,
                              const void* params, unsigned paramSize)
{
    if (paramSize > kMaxParamBytes || (params == nullptr && paramSize != 0) ||
        (reply == nullptr && replySize != 0))
        return RESULT_BAD_REQUEST;
    if (device == nullptr)
        return RESULT_NO_LINK;

    unsigned char request[kFrameBuffer];
    request[0] = opcode;
    if (paramSize != 0)
        std::memcpy(request + 1, params, paramSize);

    // A scanner that was heard answering busy is there: "no link" would send the
    // operator to the cable.
    bool busy = false;
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        unsigned char data[kFrameBuffer];
        unsigned n = kFrameBuffer;
        try {
            device->ClearErrors();
            device->PurgeInput();
            device->PurgeOutput();
            SendFrame(request, paramSize + 1);
            ReceiveFrame(data, &n);
        } catch (const stop_exception&) {
            throw;   // a device that pumps messages must not swallow Stop
        } catch (const object_description&) {
            throw;   // a device failure with a message is final (the port has gone)
        } catch (...) {
            // Any device failure costs this attempt only; one cut short by Ctrl+C ends
            // the command with the stop.
            if (InterruptPending())
                host->PumpMessages();
            continue;
        }
        if (data[0] != opcode)
            continue;
        if (n < 2)
            return RESULT_WRONG_LENGTH;
        const unsigned char status = data[1];
        if (status == 0) {
            if (n != replySize + 2)
                return RESULT_WRONG_LENGTH;
            if (replySize != 0)
                std::memcpy(reply, data + 2, replySize);
            return RESULT_OK;
        }
        if (status == STATUS_BUSY) {
            busy = true;
            host->Sleep(kBusyPauseMs);
            continue;
        }
        return status;
    }
    return busy ? STATUS_BUSY : RESULT_NO_LINK;
}

int CScannerProtocol::ExecuteVia(unsigned char opcode, void* reply, unsigned replySize,
                                 const void* params, unsigned paramSize, int transport)
{
    // The serial line is the only path the scanner offers; an unknown selector is a
    // caller's mistake, not a silent scanner.
    if (transport != TRANSPORT_SERIAL)
        return RESULT_BAD_REQUEST;
    return Execute(opcode, reply, replySize, params, paramSize);
}

int CScannerProtocol::ReadMemory(uint32_t address, void* buffer, unsigned size,
                                 TransferCallback callback, void* user, unsigned chunkSize)
{
    if (chunkSize == 0 || chunkSize > kMaxReadChunk || (buffer == nullptr && size != 0))
        return RESULT_BAD_REQUEST;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    return TransferChunks(size, chunkSize, [&](unsigned done, unsigned n) {
        unsigned char params[kAddressBytes + 1];
        PutAddress(params, address + done);
        params[kAddressBytes] = static_cast<unsigned char>(n);
        return Execute(CMD_READ_MEMORY, bytes + done, n, params, sizeof params);
    }, [&](unsigned done) {
        if (callback != nullptr)
            callback(buffer, done, size, user);
    });
}

int CScannerProtocol::WriteMemory(uint32_t address, const void* buffer, unsigned size,
                                  TransferCallback callback, void* user, unsigned chunkSize)
{
    if (chunkSize == 0 || chunkSize > kMaxWriteChunk || (buffer == nullptr && size != 0))
        return RESULT_BAD_REQUEST;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    return TransferChunks(size, chunkSize, [&](unsigned done, unsigned n) {
        unsigned char params[kAddressBytes + kMaxWriteChunk];
        PutAddress(params, address + done);
        std::memcpy(params + kAddressBytes, bytes + done, n);
        return Execute(CMD_WRITE_MEMORY, nullptr, 0, params, kAddressBytes + n);
    }, [&](unsigned done) {
        if (callback != nullptr)
            callback(buffer, done, size, user);
    });
}

const char* CommandName(unsigned char opcode)
{
    switch (opcode) {
    case CMD_WRITE_MEMORY:
        return "write-memory";
    case CMD_READ_MEMORY:
        return "read-memory";
    case CMD_GET_INFO:
        return "get-info";
    case CMD_MODE_REGISTER:
        return "mode-register";
    case CMD_BAUD_RATE:
        return "baud-rate";
    case CMD_GET_UNIQUE_ID:
        return "unique-id";
    default:
        return "unknown";
    }
}

const char* StatusText(int code)
{
    switch (code) {
    case 0:
        return "Ошибок нет";
    case 2:
        return "Команда не может быть выполнена в данный момент";
    case 4:
        return "Некорректные параметры в команде";
    case 8:
        return "Команда не поддерживается";
    case 115:
        return "Команда не поддерживается в данном режиме";
    case 144:
        return "Неправильный размер блока";
    case 145:
        return "Адрес вышел из допустимого диапазона";
    case 146:
        return "Ошибка выравнивания блока";
    case 147:
        return "Ошибка записи во флеш-память";
    case -1:
        return "Нет связи";
    case -2:
        return "Неверная длина ответа";
    default:
        return "Неизвестная ошибка";
    }
}

void CheckResult(int code)
{
    if (code != 0)
        throw test_exception(StringPrintf("(%li) %s", static_cast<long>(code), StatusText(code)),
                             code);
}
