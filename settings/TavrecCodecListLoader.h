// Builds the codec list of the preferences on a worker thread: admitting the
// compressors means test-encoding with each of them, seconds at full-HD sizes the
// first time (the admission cache makes later lists instant). The list is handed to
// the user-interface thread by Loaded.
#pragma once

#include <QObject>

#include <thread>

#include "settings/CodecList.h"

class CodecListLoader : public QObject {
    Q_OBJECT
public:
    // Starts the enumeration at once. The cache must outlive the loader.
    CodecListLoader(settings::CodecAdmissionCache& cache, QObject* parent = nullptr);
    // Asks the enumeration to stop after the compressor it is asking and waits for
    // it; a list still on its way is dropped.
    ~CodecListLoader() override;
    CodecListLoader(const CodecListLoader&) = delete;
    CodecListLoader& operator=(const CodecListLoader&) = delete;

    // True until Loaded has been emitted.
    bool Pending() const { return pending_; }

signals:
    // On the thread the loader lives on, once.
    void Loaded(const settings::CodecList& list);

private:
    void Deliver(settings::CodecList list);

    bool pending_ = true;
    std::jthread worker_;
};
