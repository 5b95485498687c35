#pragma once
// The one object through which the viewer reaches a card's recordings: it
// opens a source (index card, record-file card, folder, single file, Smart
// Backup archive), keeps its catalogue and guards it with its own mutex, so
// the playback and export threads never see a half-built list.
#include "BankEntry.h"
#include "FileRecord.h"
#include "LoadedRecording.h"
#include "Mf2Password.h"
#include "OpenSource.h"
#include "PasswordCheck.h"
#include "ReaderMuxContext.h"
#include "TelemetryTrack.h"

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QVector>

class RecordFileScan;

class Reader
{
public:
    static constexpr int ChannelTableSize = 16;
    static constexpr int IndexHeadSize = 93;
    static constexpr int SetupBlockSize = 431;
    static constexpr qint64 SetupBlockOffset = 512000;

    Reader();

    // The prompt is called (with the mutex held) when a source asks for a
    // password; without one every password is refused.
    void setPasswordPrompt(PasswordPrompt prompt);
    PasswordPrompt passwordPrompt() const;
    void setMf2Keys(const Mf2Keys &keys);

    // Index card: 0 when root holds index.ibx or index.dat with a readable
    // head and any card password was accepted; -1 otherwise.
    int openIndexFile(const QString &root);
    // Banks of the index card opened at root: the number of entries, -1 when
    // that card is not open, its head is unusable or a data file is missing.
    int loadBanks(const QString &root);
    // Record-file card: the number of records of <root>/record; -1 when the
    // folder is missing or holds no recording; 0 when a password was refused
    // for every record.
    int scanCard(const QString &root);
    // Recordings directly in folder; 0 (and nothing changed) when there are
    // none or folder is not a folder.
    int scanFolder(const QString &folder);
    // One recording file; 0 (and nothing changed) when it is not one.
    int openSingleFile(const QString &path);
    // Smart Backup archive: the number of entries; -1 (and nothing changed)
    // when it is not an archive or its password was refused.
    int openIndexFormatFile(const QString &path);
    // 0 when <root>/Config/ZidavOva.cfg exists, -1 when not.
    int locateSettings(const QString &root);
    // Fills the export list of store (1 banks, 2 files) with every entry
    // overlapping [from, to] (seconds since 1970); returns its size.
    int selectRange(int store, qint64 from, qint64 to);
    // Writes a 431-byte setup block to offset 512000 of the open index
    // card's index file, through a checked copy of the file renamed into
    // place (every other byte stays); -1 when no index card is open, its
    // block was not read whole from that file, or the write fails (error
    // then names the file and the cause, and the file is as it was).
    int writeSetupBlock(const QByteArray &block, QString *error = nullptr);
    // Replaces the open record-file card's Config/ZidavOva.cfg with bytes
    // (checked and renamed into place), then writes Config/ZidavOva.cfg.mod,
    // the camera's sign that its settings changed; -1 when no record-file
    // card with a settings file is open or a write fails (no .mod then).
    int writeSettingsFile(const QByteArray &bytes, QString *error = nullptr);
    // True when the open index card's 431-byte setup block was read whole
    // from its index file (a short file gives a block of zeros instead).
    bool setupBlockComplete() const;
    void clear();

    void setMode(int mode);
    int mode() const;

    OpenSource source() const;
    // The settings file of the open record-file card; empty for any other source.
    QString settingsFilePath() const;
    // True when the last open refused a password.
    bool passwordRefused() const;

    QVector<BankEntry> banks() const;
    QVector<FileRecord> files() const;
    QVector<BankEntry> exportBanks() const;
    QVector<FileRecord> exportFiles() const;
    int largestChannelCount() const;
    int headChannelCount() const;
    quint32 bankSize() const;
    QByteArray modelCode() const;
    QByteArray setupBlock() const;
    QVector<int> widths() const;
    QVector<int> heights() const;

    // Loading a recording whole and reading it frame by frame. Each load
    // clears the index it fills, its position and times first; playback and
    // export keep separate state, so an export never moves playback. Every
    // operation takes the mutex (seek and next frame are safe against each
    // other). The next-frame operations never write beyond capacity: an
    // entry that would not fit is skipped with a warning.
    //
    // Bank of an index store: 0, or -1 when its data file does not open.
    // backward also builds the backward index; limit (0 none) is compared
    // with the entries' 64-bit sequence field.
    // cancel (playback loads) is asked between reads; when it ends a load
    // the result is LoadCancelled.
    int loadBankForPlayback(int index, const BankEntry &entry, bool keepBuffer, bool backward, quint64 limit = 0,
                            const LoadCancel &cancel = {});
    // Record file (MF2 or MP4): payload bytes loaded, below 1 on failure.
    qint64 loadFileForPlayback(int index, const FileRecord &record, bool keepBuffer, const LoadCancel &cancel = {});
    // Why the last playback load cannot be played (a file that does not
    // open or read, a recording without frames); empty when it can.
    QString playbackLoadError() const;
    // Bit c set when the playback load holds video of channel c.
    quint32 playbackVideoChannels() const;
    // After loadFileForPlayback: the backward index for backward play of a
    // record file (bank loads build theirs when asked).
    void buildPlaybackBackwardIndex();
    int loadBankForExport(const BankEntry &entry, bool keepBuffer);
    qint64 loadFileForExport(int index, const FileRecord &record, bool keepBuffer);

    // Bytes written into out (prefix + payload), 0 at the end of the index.
    int nextFrame(FrameIndexEntry &entry, uint8_t *out, size_t capacity);
    int nextFrameBackward(uint8_t *out, size_t capacity, FrameIndexEntry &entry, bool *keyFrame);
    int nextFrameExport(uint8_t *out, size_t capacity, FrameIndexEntry &entry);
    // Playback modes 0 and 3 seek in the forward index, 5 and 8 in the
    // backward index; others do nothing.
    void seek(int mode, qint64 seconds);
    // The same to a media time in milliseconds.
    void seekMs(int mode, qint64 mediaMs);

    // For the export's stream headers, from the export load: kind 0 the
    // video parameter sets of channel, else the audio configuration. Bytes
    // written, 0 when there are none.
    int videoHeaderForChannel(int kind, int channel, uint8_t *out, size_t capacity) const;
    int h265HeaderForSize(int width, int height, uint8_t *out, size_t capacity) const;

    // The playback load.
    qint64 playbackPosition() const;
    std::vector<GSensorSample> gsensorSamples() const;
    // The GPS fixes and G-sensor samples of the playback load on its own
    // time line, taken whole under the lock (the position does not move).
    TelemetrySnapshot telemetrySnapshot() const;
    qint64 startTime() const;
    qint64 endTime() const;
    quint32 duration() const;
    int audioRate() const;
    AudioDescription audioDescription() const;
    std::vector<VideoTrack> videoTracks() const;
    int loadedIndex() const;
    // The export load.
    AudioDescription exportAudioDescription() const;
    std::vector<VideoTrack> exportVideoTracks() const;
    qint64 exportStartTime() const;
    qint64 exportEndTime() const;
    // Frames per second of channel's video in the export load, from the
    // spacing of its frames; 0 when it has fewer than two.
    int exportFrameRate(int channel) const;
    // The payload of the export load's first audio packet, at most capacity
    // bytes of it; 0 when it has no sound.
    int exportFirstAudio(uint8_t *out, size_t capacity) const;
    // Reading position and number of entries of the export index.
    size_t exportPosition() const;
    size_t exportIndexSize() const;

    // One export at a time reads the export load: false when one runs.
    bool beginExport();
    void endExport();

    // The muxer members of the export: a Matroska file of one channel
    // written through the media library. Each locks this Reader's mutex for
    // its whole call, so exporters use Readers of their own for them.
    // Open: null (logged) when the output cannot be created.
    ReaderMuxContext *Avmuxer_Open(const ReaderMuxSettings &settings);
    // type 0 video (of the context's channel), 1 audio, 3 subtitle text: 0,
    // or -1 when the packet could not be written.
    int Avmuxer_Write(ReaderMuxContext *context, int type, int channel, qint64 timestampMs, int keyFlag,
                      const uint8_t *data, int size);
    // Finalises, closes and frees the context: 0 when the whole file reached
    // the disk, -1 when anything of it failed.
    int Avmuxer_Close(ReaderMuxContext *context);

private:
    struct Catalogue {
        OpenSource source;
        QByteArray setupBlock;
        bool setupBlockComplete = false;
        qint64 areaSize = 0;
        int headChannels = 0;
        quint32 bankSize = 0;
        QByteArray model;
        QVector<BankEntry> banks;
        QVector<FileRecord> files;
        QVector<BankEntry> exportBanks;
        QVector<FileRecord> exportFiles;
        int largestChannels = 0;
        QVector<int> widths = QVector<int>(ChannelTableSize, 0);
        QVector<int> heights = QVector<int>(ChannelTableSize, 0);
    };

    bool unlock(PasswordKind kind, const QString &root, const QByteArray &stored, int length);
    int finishRecordScan(RecordFileScan &scan, Catalogue &next);
    QStringList dataFiles(const QString &root, qint64 areaSize, bool *missing) const;

    mutable QMutex lock;
    PasswordPrompt prompt;
    Mf2Keys mf2Keys;
    QSet<QByteArray> unlocked;   // kind, root and stored bytes of each unlock
    bool refused = false;
    int storageMode = 1;
    Catalogue cat;
    LoadedRecording playback;
    LoadedRecording exporting;
    bool exportRunning = false;
};
