#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "pictures/decode.h"

namespace pictures {
namespace {

// Everything in the frames that libjpeg may longjmp across is plain C data: no destructors
// would run there. C++ work (the sink, allocations) happens outside or behind callbacks that
// catch their own exceptions.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct SourceManager {
    jpeg_source_mgr pub;
    const JOCTET* data;
    std::size_t size;
};

struct ProgressMonitor {
    jpeg_progress_mgr pub;
    int maxScans;
};

void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    // A warning means corrupt data that libjpeg would paper over (grey fill, fake end of file):
    // a damaged picture is refused instead.
    if (level < 0) ErrorExit(cinfo);
}

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", "file is truncated");
    std::longjmp(err->jump, 1);
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) FillInputBuffer(cinfo);
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

void Progress(j_common_ptr cinfo) {
    auto* monitor = reinterpret_cast<ProgressMonitor*>(cinfo->progress);
    if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > monitor->maxScans) {
        auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "%s", "too many scans");
        std::longjmp(err->jump, 1);
    }
}

// Called once the header is read (`row` null: size check and Begin) and then per row.
// Returns false, with the exception kept by the caller, if the C++ side failed.
using RowCallback = bool (*)(void* context, int width, int height, const JSAMPLE* row, int components);

struct Job {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    SourceManager src;
    ProgressMonitor progress;
    long maxMemory;
    RowCallback callback;
    void* context;
    JSAMPLE* row;  // output_width * 4 samples, allocated by the callback at the header
};

// Returns 0 on success, 1 if libjpeg failed (message in err), 2 if the callback failed.
int RunDecompressor(Job* job) {
    j_decompress_ptr cinfo = &job->cinfo;
    if (setjmp(job->err.jump)) return 1;

    (void)jpeg_read_header(cinfo, TRUE);
    switch (cinfo->jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo->out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
#ifdef JCS_ALPHA_EXTENSIONS
            cinfo->out_color_space = JCS_EXT_RGBA;  // libjpeg-turbo writes the rows the sink takes
#else
            cinfo->out_color_space = JCS_RGB;
#endif
            break;
        default:
            std::snprintf(job->err.message, sizeof job->err.message, "%s",
                          "CMYK and other colour spaces are not supported");
            return 1;
    }
    if (!job->callback(job->context, static_cast<int>(cinfo->image_width), static_cast<int>(cinfo->image_height),
                       nullptr, 0)) {
        return 2;
    }
    cinfo->mem->max_memory_to_use = job->maxMemory;
    (void)jpeg_start_decompress(cinfo);
    if (cinfo->output_width != cinfo->image_width || cinfo->output_height != cinfo->image_height ||
        cinfo->output_components != (cinfo->out_color_space == JCS_GRAYSCALE ? 1
                                     : cinfo->out_color_space == JCS_RGB     ? 3
                                                                             : 4)) {
        std::snprintf(job->err.message, sizeof job->err.message, "%s", "unexpected output layout");
        return 1;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW rows[1] = {job->row};
        if (jpeg_read_scanlines(cinfo, rows, 1) != 1) {
            std::snprintf(job->err.message, sizeof job->err.message, "%s", "no scanline");
            return 1;
        }
        if (!job->callback(job->context, 0, 0, job->row, cinfo->output_components)) return 2;
    }
    (void)jpeg_finish_decompress(cinfo);
    return 0;
}

struct Context {
    RowSink* sink;
    const Limits* limits;
    std::vector<JSAMPLE> samples;
    std::vector<std::uint8_t> rgba;
    JSAMPLE** rowSlot;
    std::exception_ptr failure;
};

bool OnRow(void* opaque, int width, int height, const JSAMPLE* row, int components) {
    auto* context = static_cast<Context*>(opaque);
    try {
        if (row == nullptr) {
            CheckSize(width, height, *context->limits, "JPEG picture");
            context->samples.assign(static_cast<std::size_t>(width) * 4, 0);
            context->rgba.assign(static_cast<std::size_t>(width) * 4, 255);
            *context->rowSlot = context->samples.data();
            context->sink->Begin(width, height);
            return true;
        }
        if (components == 4) {
            context->sink->Row(std::span<const std::uint8_t>(row, context->rgba.size()));
            return true;
        }
        const std::size_t pixels = context->rgba.size() / 4;
        std::uint8_t* out = context->rgba.data();
        for (std::size_t i = 0; i < pixels; ++i, out += 4) {
            if (components == 3) {
                out[0] = row[i * 3];
                out[1] = row[i * 3 + 1];
                out[2] = row[i * 3 + 2];
            } else {
                out[0] = out[1] = out[2] = row[i];
            }
        }
        context->sink->Row(context->rgba);
        return true;
    } catch (...) {
        context->failure = std::current_exception();
        return false;
    }
}

}  // namespace

void DecodeJpeg(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits) {
    if (!LooksLikeJpeg(file)) throw DecodeError("JPEG: bad signature");

    Context context{&sink, &limits, {}, {}, nullptr, nullptr};
    auto job = std::make_unique<Job>();
    context.rowSlot = &job->row;
    job->maxMemory = limits.maxJpegMemory;
    job->callback = OnRow;
    job->context = &context;
    job->err.message[0] = '\0';

    jpeg_decompress_struct* cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->err.pub);
    job->err.pub.error_exit = ErrorExit;
    job->err.pub.emit_message = EmitMessage;
    // jpeg_create_decompress can itself fail (out of memory) and longjmp.
    if (setjmp(job->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        throw DecodeError(std::string("JPEG: ") + job->err.message);
    }
    jpeg_create_decompress(cinfo);

    job->src.pub.init_source = InitSource;
    job->src.pub.fill_input_buffer = FillInputBuffer;
    job->src.pub.skip_input_data = SkipInputData;
    job->src.pub.resync_to_restart = jpeg_resync_to_restart;
    job->src.pub.term_source = TermSource;
    job->src.pub.next_input_byte = file.data();
    job->src.pub.bytes_in_buffer = file.size();
    cinfo->src = &job->src.pub;
    job->progress.pub.progress_monitor = Progress;
    job->progress.maxScans = limits.maxJpegScans;
    cinfo->progress = &job->progress.pub;

    const int result = RunDecompressor(job.get());
    jpeg_destroy_decompress(cinfo);
    if (result == 2) std::rethrow_exception(context.failure);
    if (result != 0) throw DecodeError(std::string("JPEG: ") + job->err.message);
}

}  // namespace pictures
