#include "settings/TavrecCodecListLoader.h"

#include <QMetaObject>

CodecListLoader::CodecListLoader(settings::CodecAdmissionCache& cache, QObject* parent) : QObject(parent)
{
    worker_ = std::jthread([this, &cache](std::stop_token stop) {
        settings::CodecList list = settings::EnumerateCodecs(cache, stop);
        if (stop.stop_requested())
            return;
        // Posted to this object: the destructor joins this thread before the object
        // goes, and Qt drops the posted call together with the object.
        QMetaObject::invokeMethod(
            this, [this, list = std::move(list)]() mutable { Deliver(std::move(list)); }, Qt::QueuedConnection);
    });
}

CodecListLoader::~CodecListLoader()
{
    worker_.request_stop();
    if (worker_.joinable())
        worker_.join();
}

void CodecListLoader::Deliver(settings::CodecList list)
{
    pending_ = false;
    emit Loaded(list);
}
