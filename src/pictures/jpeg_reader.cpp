#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <string>
#include <vector>

#include <jpeglib.h>

#include "pictures/decode.h"

namespace pictures {
namespace {

// libjpeg reports errors by longjmp to the frame that called it. Every such frame below is a
// short function holding plain C data only, so a jump skips no destructor; C++ work (the sink,
// allocations) happens between those calls, where exceptions unwind as usual.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

struct SourceManager {
    jpeg_source_mgr pub;
};

struct ProgressMonitor {
    jpeg_progress_mgr pub;
    int maxScans;
};

[[noreturn]] void Fail(j_common_ptr cinfo, const char* message) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::snprintf(err->message, sizeof err->message, "%s", message);
    std::longjmp(err->jump, 1);
}

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

boolean FillInputBuffer(j_decompress_ptr cinfo) { Fail(reinterpret_cast<j_common_ptr>(cinfo), "file is truncated"); }

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
        Fail(cinfo, "too many scans");
    }
}

[[noreturn]] void Refuse(const char* message) { throw DecodeError(std::string("JPEG: ") + message); }

// The libjpeg state, plain C data, in one block that does not move.
struct State {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    SourceManager src;
    ProgressMonitor progress;
};

// Each returns false, with the message in state->err, if libjpeg gave up.
bool TryCreate(State* state) {
    if (setjmp(state->err.jump)) return false;
    jpeg_create_decompress(&state->cinfo);
    return true;
}

bool TryReadHeader(State* state) {
    if (setjmp(state->err.jump)) return false;
    (void)jpeg_read_header(&state->cinfo, TRUE);
    return true;
}

bool TryStart(State* state) {
    if (setjmp(state->err.jump)) return false;
    (void)jpeg_start_decompress(&state->cinfo);
    return true;
}

// Sets *read to the number of rows read (0 or 1).
bool TryReadRow(State* state, JSAMPROW row, JDIMENSION* read) {
    if (setjmp(state->err.jump)) return false;
    JSAMPROW rows[1] = {row};
    *read = jpeg_read_scanlines(&state->cinfo, rows, 1);
    return true;
}

bool TryFinish(State* state) {
    if (setjmp(state->err.jump)) return false;
    (void)jpeg_finish_decompress(&state->cinfo);
    return true;
}

// Owns one libjpeg decompressor: the destructor gives back all of libjpeg's memory, however
// decoding ended. Each step throws DecodeError with libjpeg's message if libjpeg gave up.
class Decompressor {
public:
    Decompressor(std::span<const std::uint8_t> file, const Limits& limits) {
        state_.err.message[0] = '\0';
        state_.cinfo.err = jpeg_std_error(&state_.err.pub);
        state_.err.pub.error_exit = ErrorExit;
        state_.err.pub.emit_message = EmitMessage;
        // Creating can itself fail (out of memory). A throwing constructor gets no destructor call,
        // so a half-made one is destroyed here; that is safe at any point.
        if (!TryCreate(&state_)) {
            jpeg_destroy_decompress(&state_.cinfo);
            Refuse(state_.err.message);
        }
        state_.src.pub.init_source = InitSource;
        state_.src.pub.fill_input_buffer = FillInputBuffer;
        state_.src.pub.skip_input_data = SkipInputData;
        state_.src.pub.resync_to_restart = jpeg_resync_to_restart;
        state_.src.pub.term_source = TermSource;
        state_.src.pub.next_input_byte = file.data();
        state_.src.pub.bytes_in_buffer = file.size();
        state_.cinfo.src = &state_.src.pub;
        state_.progress.pub.progress_monitor = Progress;
        state_.progress.maxScans = limits.maxJpegScans;
        state_.cinfo.progress = &state_.progress.pub;
    }
    ~Decompressor() { jpeg_destroy_decompress(&state_.cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct& Info() { return state_.cinfo; }

    void ReadHeader() { Check(TryReadHeader(&state_)); }
    void Start() { Check(TryStart(&state_)); }
    bool ReadRow(JSAMPROW row) {
        JDIMENSION read = 0;
        Check(TryReadRow(&state_, row, &read));
        return read == 1;
    }
    void Finish() { Check(TryFinish(&state_)); }

private:
    void Check(bool ok) const {
        if (!ok) Refuse(state_.err.message);
    }

    State state_{};
};

// What libjpeg is to write for a picture stored in `stored`; refuses the spaces not shown.
J_COLOR_SPACE OutputSpace(J_COLOR_SPACE stored) {
    switch (stored) {
        case JCS_GRAYSCALE:
            return JCS_GRAYSCALE;
        case JCS_YCbCr:
        case JCS_RGB:
#ifdef JCS_ALPHA_EXTENSIONS
            return JCS_EXT_RGBA;  // libjpeg-turbo writes the rows the sink takes
#else
            return JCS_RGB;
#endif
        default:
            Refuse("CMYK and other colour spaces are not supported");
    }
}

int ComponentsOf(J_COLOR_SPACE space) { return space == JCS_GRAYSCALE ? 1 : space == JCS_RGB ? 3 : 4; }

// Widens a grey or RGB row to RGBA; alpha stays as filled in (opaque).
void ToRgba(const JSAMPLE* row, int components, std::vector<std::uint8_t>& rgba) {
    const std::size_t pixels = rgba.size() / 4;
    std::uint8_t* out = rgba.data();
    for (std::size_t i = 0; i < pixels; ++i, out += 4) {
        if (components == 3) {
            out[0] = row[i * 3];
            out[1] = row[i * 3 + 1];
            out[2] = row[i * 3 + 2];
        } else {
            out[0] = out[1] = out[2] = row[i];
        }
    }
}

}  // namespace

void DecodeJpeg(std::span<const std::uint8_t> file, RowSink& sink, const Limits& limits) {
    if (!LooksLikeJpeg(file)) throw DecodeError("JPEG: bad signature");
    Decompressor jpeg(file, limits);
    jpeg_decompress_struct& info = jpeg.Info();
    jpeg.ReadHeader();
    info.out_color_space = OutputSpace(info.jpeg_color_space);
    const int width = static_cast<int>(info.image_width), height = static_cast<int>(info.image_height);
    CheckSize(width, height, limits, "JPEG picture");
    std::vector<JSAMPLE> samples(static_cast<std::size_t>(width) * 4);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(width) * 4, 255);
    sink.Begin(width, height);

    info.mem->max_memory_to_use = limits.maxJpegMemory;
    jpeg.Start();
    const int components = ComponentsOf(info.out_color_space);
    if (info.output_width != info.image_width || info.output_height != info.image_height ||
        info.output_components != components) {
        Refuse("unexpected output layout");
    }
    while (info.output_scanline < info.output_height) {
        if (!jpeg.ReadRow(samples.data())) Refuse("no scanline");
        if (components == 4) {
            sink.Row(std::span<const std::uint8_t>(samples.data(), rgba.size()));
        } else {
            ToRgba(samples.data(), components, rgba);
            sink.Row(rgba);
        }
    }
    jpeg.Finish();
}

}  // namespace pictures
