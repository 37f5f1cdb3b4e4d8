#include "player/media/DecoderPolicy.h"

#include <gst/gst.h>

#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace {

std::atomic<bool> everyDecoder{false};
std::atomic<bool> ffmpegLast{false};
// FFmpeg's features and the ranks they had, once left out.
std::vector<std::pair<GstPluginFeature*, guint>> ffmpegRanks;

void Rank(bool asBefore) {
    for (const auto& [feature, before] : ffmpegRanks)
        gst_plugin_feature_set_rank(feature, asBefore ? before : guint(GST_RANK_NONE));
}

} // namespace

void AllowEveryDecoderHere() {
    everyDecoder = true;
}

void TryFFmpegLastHere() {
    ffmpegLast = true;
}

// Ranked out of autoplugging, FFmpeg's decoders and demuxers are never
// loaded: the ranks come from the registry's cache, not from the plugin.
// Where every decoder is allowed, GStreamer's own decoders of the lowest
// rank that is autoplugged go one step up, above FFmpeg's of that rank:
// between two of the same rank GStreamer takes the first by name, which for
// MP3 was FFmpeg's, and loading its libraries made the first MP3 of a child
// sound some 50 ms later than with GStreamer's own decoder.
void ApplyDecoderPolicy() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (everyDecoder || !ffmpegLast) {
            GList* decoders = gst_element_factory_list_get_elements(
                GST_ELEMENT_FACTORY_TYPE_DECODER, GST_RANK_MARGINAL);
            for (GList* each = decoders; each; each = each->next) {
                auto* feature = GST_PLUGIN_FEATURE(each->data);
                if (gst_plugin_feature_get_rank(feature) == GST_RANK_MARGINAL &&
                    g_strcmp0(gst_plugin_feature_get_plugin_name(feature), "libav") != 0)
                    gst_plugin_feature_set_rank(feature, GST_RANK_MARGINAL + 1);
            }
            gst_plugin_feature_list_free(decoders);
            return;
        }
        GList* features = gst_registry_get_feature_list_by_plugin(gst_registry_get(), "libav");
        for (GList* feature = features; feature; feature = feature->next) {
            auto* each = GST_PLUGIN_FEATURE(gst_object_ref(feature->data));
            ffmpegRanks.emplace_back(each, gst_plugin_feature_get_rank(each));
            gst_plugin_feature_set_rank(each, GST_RANK_NONE);
        }
        gst_plugin_feature_list_free(features);
    });
}

void RunWithEveryDecoder(const std::function<void()>& work) {
    Rank(true);
    try {
        work();
    } catch (...) {
        Rank(false);
        throw;
    }
    Rank(false);
}

bool FFmpegLoadedHere() {
    if (!gst_is_initialized())
        return false;
    GstPlugin* plugin = gst_registry_find_plugin(gst_registry_get(), "libav");
    const bool loaded = plugin && gst_plugin_is_loaded(plugin);
    if (plugin)
        gst_object_unref(plugin);
    return loaded;
}
