#include "platform/SoundServerVolume.h"

#include "platform/HelperPath.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

using Clock = std::chrono::steady_clock;

namespace {

// A sink without a left and a right (mono) has one volume for both.
ChannelVolumes channelsOfSink(const pa_cvolume& volume, const pa_channel_map& map) {
    const pa_volume_t loudest = pa_cvolume_max(&volume);
    auto side = [&](pa_channel_position_t position) {
        return pa_channel_map_has_position(&map, position)
                   ? pa_cvolume_get_position(&volume, &map, position)
                   : loudest;
    };
    return ChannelVolumes{ChannelOfServerVolume(side(PA_CHANNEL_POSITION_FRONT_LEFT)),
                          ChannelOfServerVolume(side(PA_CHANNEL_POSITION_FRONT_RIGHT))};
}

pa_proplist* clientProperties() {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Tolvane");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "tolvane");
    // The program the user started, not the helper it became.
    pa_proplist_sets(properties, PA_PROP_APPLICATION_PROCESS_BINARY, ProgramName);
    return properties;
}

} // namespace

quint32 ServerVolumeOfChannel(quint16 channel) {
    return quint32((quint64(channel) * PA_VOLUME_NORM + 65535 / 2) / 65535);
}

quint16 ChannelOfServerVolume(quint32 serverVolume) {
    const quint64 channel = (quint64(serverVolume) * 65535 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM;
    return quint16(std::min<quint64>(channel, 65535));
}

// One connection to the server, driven by a main loop of our own that runs
// only while a call waits for its answer. All of it stays on the caller's
// thread: no second thread, no locks.
struct SoundServerVolume::Private {
    // Both made by the first connection attempt, not before.
    pa_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    // After a failed connection attempt the next one waits a little, so that
    // dragging the volume bar with no server does not retry on every step.
    Clock::time_point nextAttempt{};

    ~Private() {
        Disconnect();
        if (loop)
            pa_mainloop_free(loop);
    }

    void Disconnect() {
        if (!context)
            return;
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    bool ContextFailed() const { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)); }

    // Runs the loop until done() holds, the connection breaks or the
    // deadline passes; true only in the first case.
    template <class Done> bool RunUntil(Done done, Clock::time_point deadline) {
        while (!done()) {
            if (ContextFailed())
                return false;
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return false;
            if (pa_mainloop_prepare(loop, int(left.count())) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                return false;
        }
        return true;
    }

    bool Connect(Clock::time_point deadline) {
        if (context && !ContextFailed())
            return true;
        Disconnect();
        if (Clock::now() < nextAttempt)
            return false;
        if (!loop)
            loop = pa_mainloop_new();
        if (!loop)
            return false;
        pa_proplist* properties = clientProperties();
        context = pa_context_new_with_proplist(pa_mainloop_get_api(loop), "Tolvane", properties);
        pa_proplist_free(properties);
        // Never start a server of our own: the volume belongs to the one the
        // desktop runs, and when there is none there is nothing to set.
        const bool ready =
            context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            RunUntil([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; },
                     deadline);
        if (!ready) {
            Disconnect();
            nextAttempt = Clock::now() + std::chrono::seconds(3);
        }
        return ready;
    }

    // Waits for an operation; on a timeout the operation is cancelled so that
    // its callback can no longer reach the caller's answer, which is about to
    // go out of scope.
    template <class Done>
    bool Await(pa_operation* operation, Done done, Clock::time_point deadline) {
        if (!operation)
            return false;
        const bool answered = RunUntil(done, deadline);
        if (!answered)
            pa_operation_cancel(operation);
        pa_operation_unref(operation);
        if (!answered)
            Disconnect(); // a server that does not answer is not trusted again
        return answered;
    }

    std::optional<std::string> DefaultSink(Clock::time_point deadline) {
        struct Answer {
            bool done = false;
            std::string sink;
        } answer;
        auto received = [](pa_context*, const pa_server_info* info, void* user) {
            auto* a = static_cast<Answer*>(user);
            if (info && info->default_sink_name)
                a->sink = info->default_sink_name;
            a->done = true;
        };
        if (!Await(
                pa_context_get_server_info(context, received, &answer),
                [&answer] { return answer.done; }, deadline) ||
            answer.sink.empty())
            return std::nullopt;
        return answer.sink;
    }

    struct SinkVolume {
        pa_cvolume volume{};
        pa_channel_map map{};
    };

    std::optional<SinkVolume> ReadSink(const std::string& name, Clock::time_point deadline) {
        struct Answer {
            bool done = false;
            bool found = false;
            SinkVolume sink;
        } answer;
        auto received = [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* a = static_cast<Answer*>(user);
            if (eol != 0) {
                a->done = true;
                return;
            }
            if (info) {
                a->found = true;
                a->sink.volume = info->volume;
                a->sink.map = info->channel_map;
            }
        };
        if (!Await(
                pa_context_get_sink_info_by_name(context, name.c_str(), received, &answer),
                [&answer] { return answer.done; }, deadline) ||
            !answer.found)
            return std::nullopt;
        return answer.sink;
    }

    bool WriteSink(const std::string& name, const pa_cvolume& volume, Clock::time_point deadline) {
        struct Answer {
            bool done = false;
            bool success = false;
        } answer;
        auto finished = [](pa_context*, int success, void* user) {
            auto* a = static_cast<Answer*>(user);
            a->success = success != 0;
            a->done = true;
        };
        return Await(
                   pa_context_set_sink_volume_by_name(context, name.c_str(), &volume, finished,
                                                      &answer),
                   [&answer] { return answer.done; }, deadline) &&
               answer.success;
    }

    // Runs a request on the connection; when an old connection turns out to
    // be broken (the server was restarted), the request is tried once more
    // on a fresh one.
    template <class Request>
    auto WithServer(Request request) -> decltype(request(Clock::time_point{})) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        const bool wasConnected = context != nullptr;
        if (!Connect(deadline))
            return {};
        if (auto result = request(deadline))
            return result;
        if (!wasConnected || (context && !ContextFailed()))
            return {};
        Disconnect();
        if (!Connect(deadline))
            return {};
        return request(deadline);
    }
};

SoundServerVolume::SoundServerVolume() : d(std::make_unique<Private>()) {}
SoundServerVolume::~SoundServerVolume() = default;

bool SoundServerVolume::IsAvailable() {
    return d->WithServer(
        [this](Clock::time_point deadline) { return d->DefaultSink(deadline).has_value(); });
}

std::optional<ChannelVolumes> SoundServerVolume::Read() {
    return d->WithServer([this](Clock::time_point deadline) -> std::optional<ChannelVolumes> {
        const auto name = d->DefaultSink(deadline);
        if (!name)
            return std::nullopt;
        const auto sink = d->ReadSink(*name, deadline);
        if (!sink)
            return std::nullopt;
        return channelsOfSink(sink->volume, sink->map);
    });
}

bool SoundServerVolume::Write(ChannelVolumes channels) {
    return d->WithServer([&](Clock::time_point deadline) {
        const auto name = d->DefaultSink(deadline);
        if (!name)
            return false;
        const auto sink = d->ReadSink(*name, deadline);
        if (!sink)
            return false;
        pa_cvolume volume = sink->volume;
        const pa_volume_t left = ServerVolumeOfChannel(channels.left);
        const pa_volume_t right = ServerVolumeOfChannel(channels.right);
        pa_cvolume_set(&volume, volume.channels, std::max(left, right));
        if (pa_channel_map_has_position(&sink->map, PA_CHANNEL_POSITION_FRONT_LEFT) &&
            pa_channel_map_has_position(&sink->map, PA_CHANNEL_POSITION_FRONT_RIGHT)) {
            for (unsigned i = 0; i < volume.channels; ++i) {
                const auto position = sink->map.map[i];
                if (position == PA_CHANNEL_POSITION_FRONT_LEFT ||
                    position == PA_CHANNEL_POSITION_REAR_LEFT ||
                    position == PA_CHANNEL_POSITION_SIDE_LEFT ||
                    position == PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER)
                    volume.values[i] = left;
                else if (position == PA_CHANNEL_POSITION_FRONT_RIGHT ||
                         position == PA_CHANNEL_POSITION_REAR_RIGHT ||
                         position == PA_CHANNEL_POSITION_SIDE_RIGHT ||
                         position == PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER)
                    volume.values[i] = right;
            }
        }
        return d->WriteSink(*name, volume, deadline);
    });
}

// The watch runs on libpulse's threaded loop: every callback below runs on
// that thread, and the loop is stopped (its thread joined) before anything
// it uses goes away.
struct SoundServerWatch::Private {
    SoundServerWatch* owner;
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    pa_context* context = nullptr;
    std::string sink;
    std::optional<ChannelVolumes> last;
    // The first reading, or its absence, for FirstReading() on the owner's
    // thread.
    std::mutex firstMutex;
    std::condition_variable firstCame;
    bool firstDone = false;
    std::optional<ChannelVolumes> first;

    void SetFirst(std::optional<ChannelVolumes> channels) {
        const std::lock_guard<std::mutex> lock(firstMutex);
        if (firstDone)
            return;
        first = channels;
        firstDone = true;
        firstCame.notify_all();
    }

    explicit Private(SoundServerWatch* watch) : owner(watch) {
        if (!loop) {
            SetFirst(std::nullopt);
            return;
        }
        Connect();
        pa_threaded_mainloop_start(loop);
    }

    ~Private() {
        if (!loop)
            return;
        pa_threaded_mainloop_stop(loop);
        Drop();
        pa_threaded_mainloop_free(loop);
    }

    void Drop() {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    void Connect() {
        pa_proplist* properties = clientProperties();
        context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop),
                                               "Tolvane volume watch", properties);
        pa_proplist_free(properties);
        if (!context)
            return;
        pa_context_set_state_callback(context, &Private::StateChanged, this);
        // As for the volume itself: never start a server of our own.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            SetFirst(std::nullopt);
            RetryLater();
        }
    }

    // A server that is gone may come back (a restart, a new login of the
    // sound server); the watch looks again every few seconds.
    void RetryLater() {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
        timeval at{};
        pa_timeval_add(pa_gettimeofday(&at), 3 * PA_USEC_PER_SEC);
        api->time_new(
            api, &at,
            [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* user) {
                api->time_free(event);
                auto* d = static_cast<Private*>(user);
                d->Drop();
                d->Connect();
            },
            this);
    }

    static void StateChanged(pa_context* context, void* user) {
        auto* d = static_cast<Private*>(user);
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_context_set_subscribe_callback(context, &Private::Event, d);
            if (pa_operation* o = pa_context_subscribe(
                    context,
                    pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER),
                    nullptr, nullptr))
                pa_operation_unref(o);
            d->ReadServer();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            d->SetFirst(std::nullopt);
            d->RetryLater();
            break;
        default:
            break;
        }
    }

    static void Event(pa_context*, pa_subscription_event_type_t type, uint32_t, void* user) {
        auto* d = static_cast<Private*>(user);
        // The default output may have changed with the server's settings.
        if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
            d->ReadServer();
        else
            d->ReadSink();
    }

    void ReadServer() {
        auto received = [](pa_context*, const pa_server_info* info, void* user) {
            auto* d = static_cast<Private*>(user);
            d->sink = info && info->default_sink_name ? info->default_sink_name : "";
            d->ReadSink();
        };
        if (pa_operation* o = pa_context_get_server_info(context, received, this))
            pa_operation_unref(o);
    }

    void ReadSink() {
        if (sink.empty()) {
            SetFirst(std::nullopt);
            return;
        }
        struct Request {
            Private* d;
            qint64 askedAt;
        };
        auto received = [](pa_context*, const pa_sink_info* info, int eol, void* user) {
            auto* request = static_cast<Request*>(user);
            auto* d = request->d;
            if (eol < 0)
                d->SetFirst(std::nullopt);
            if (eol != 0) {
                delete request;
                return;
            }
            if (!info)
                return;
            const ChannelVolumes channels = channelsOfSink(info->volume, info->channel_map);
            d->SetFirst(channels);
            if (d->last == channels)
                return;
            d->last = channels;
            // Emitted on this thread, received on the watch's own: queued.
            emit d->owner->volumeChanged(channels.left, channels.right, request->askedAt);
        };
        auto* request = new Request{this, Clock::now().time_since_epoch().count()};
        if (pa_operation* o =
                pa_context_get_sink_info_by_name(context, sink.c_str(), received, request))
            pa_operation_unref(o);
        else
            delete request;
    }
};

SoundServerWatch::SoundServerWatch(QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(this)) {}

SoundServerWatch::~SoundServerWatch() = default;

std::optional<ChannelVolumes> SoundServerWatch::FirstReading() {
    std::unique_lock<std::mutex> lock(d->firstMutex);
    d->firstCame.wait_for(lock, std::chrono::milliseconds(SoundServerVolume::TimeoutMs),
                          [this] { return d->firstDone; });
    return d->first;
}
