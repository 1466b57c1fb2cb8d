// The extension module puretone._puretone: the library's C API for the
// package's Python functions (puretone/__init__.py), which take and check
// the arguments and give the signatures and documentation. Here, with
// `format` the tuple (rate, sample format, level kind, level, channels) of
// puretone_format's fields, and `signal` the tuple (tones, length, fade_in,
// fade_out, sweep, sweep_from, sweep_to) of puretone_signal's, with
// `inverse` the sweep's inverse filter in place of the signal (mono f32),
// each tone a tuple (frequency, level
// kind, level, phase, channels) of puretone_tone's:
//   check(format, signal, start, count, inverse=False) -> None or (code, message)
//   fill(format, signal, start, out, inverse=False)    fills out's frames in place
//   signal_length(format, signal)          -> int (or a negative code)
//   wav_header(format, frame_count)        -> bytes, or ValueError
//   longest_frames(format)                 -> int (or a negative code)
// Values are those of the C API: a double, int64 indices, uint32 rate and
// channels (the caller clamps larger values to the ends, which the library
// refuses as it refuses the values themselves).
//
// fill works in chunks with the GIL released, and between chunks runs
// Python's signal handlers: Ctrl-C raises KeyboardInterrupt within a chunk's
// time (a few milliseconds), and nothing more is written once it is raised.
#include <puretone/puretone.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace {

using format_fields = std::tuple<std::uint32_t, std::int32_t, std::int32_t, double, std::uint32_t>;

puretone_format description(const format_fields& fields)
{
    puretone_format format = PURETONE_FORMAT_INIT;
    std::tie(format.rate, format.sample_format, format.level_kind, format.level, format.channels) = fields;
    return format;
}

using tone_fields = std::tuple<double, std::int32_t, double, double, std::uint32_t>;
// (tones, length, fade_in, fade_out, sweep kind, f1, f2)
using signal_fields =
    std::tuple<std::vector<tone_fields>, std::int64_t, std::int64_t, std::int64_t, std::int32_t, double, double>;

// A signal's description, with the tones it points to.
struct signal_description {
    std::vector<puretone_tone> tones;
    puretone_signal signal = PURETONE_SIGNAL_INIT;
};

signal_description description(const signal_fields& fields)
{
    signal_description made;
    for (const auto& [frequency, level_kind, level, phase, channels] : std::get<0>(fields))
        made.tones.push_back({frequency, level, phase, level_kind, channels});
    made.signal.tones = made.tones.data();
    // More than the library takes stays more: it refuses the count before
    // reading a tone.
    made.signal.tone_count = static_cast<std::uint32_t>(std::min<std::size_t>(made.tones.size(), UINT32_MAX));
    std::tie(std::ignore, made.signal.length, made.signal.fade_in, made.signal.fade_out, made.signal.sweep,
             made.signal.sweep_from, made.signal.sweep_to) = fields;
    return made;
}

// About 3 ms of frames on one core of 2020s x86-64: short enough that a
// signal is seen long before a person notices, long enough that the checks
// cost nothing measurable. The sine, not the channels, sets a frame's cost.
constexpr std::int64_t chunk_frames = std::int64_t{1} << 20;

// The frames of the signal, or of its sweep's inverse filter.
int frames_of(bool inverse, const puretone_format& format, const puretone_signal& signal, std::int64_t start,
              std::int64_t count, void* out)
{
    return inverse ? puretone_inverse_frames(&format, &signal, start, count, static_cast<float*>(out))
                   : puretone_signal_frames(&format, &signal, start, count, out);
}

py::object check(const format_fields& fields, const signal_fields& signal_parts, std::int64_t start, std::int64_t count,
                 bool inverse)
{
    // A NULL buffer has the library check everything but the buffer.
    const puretone_format format = description(fields);
    const signal_description signal = description(signal_parts);
    const int code = frames_of(inverse, format, signal.signal, start, count, nullptr);
    if (code == PURETONE_OK || code == PURETONE_ERROR_NULL)
        return py::none();
    return py::make_tuple(code, puretone_strerror(code));
}

// The caller has checked the request with check() and `out` against the
// format; what a wrong call from Python could overrun memory with is checked
// again here.
void fill(const format_fields& fields, const signal_fields& signal_parts, std::int64_t start, py::array out, bool inverse)
{
    puretone_format format = description(fields);
    if (inverse) {  // mono f32, whatever else the fields say
        format.sample_format = PURETONE_FORMAT_F32;
        format.channels = 1;
    }
    const signal_description signal = description(signal_parts);
    const py::ssize_t channels = format.channels;
    const int frame = puretone_frame_bytes(&format);
    if (frame < 0)  // checked before: not reached
        throw py::value_error(puretone_strerror(frame));
    const std::int64_t frame_bytes = frame;
    const py::ssize_t item = frame / channels;
    const bool fits = (out.ndim() == 1 || (out.ndim() == 2 && out.shape(1) == channels))
        && out.size() == out.shape(0) * channels && out.itemsize() == item
        && (out.flags() & py::detail::npy_api::NPY_ARRAY_C_CONTIGUOUS_) != 0
        && (out.flags() & py::detail::npy_api::NPY_ARRAY_ALIGNED_) != 0;
    if (!fits)
        throw py::value_error("out does not match the format");
    auto* data = static_cast<unsigned char*>(out.mutable_data());  // raises for a read-only array
    const std::int64_t count = out.shape(0);
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min(chunk_frames, count - done);
        int code = PURETONE_OK;
        {
            py::gil_scoped_release unlocked;
            code = frames_of(inverse, format, signal.signal, start + done, n, data + done * frame_bytes);
        }
        if (code == PURETONE_ERROR_UNSETTLED)
            throw std::runtime_error(puretone_strerror(code));
        if (code != PURETONE_OK)  // checked before: not reached
            throw py::value_error(puretone_strerror(code));
        done += n;
        if (done < count && PyErr_CheckSignals() != 0)
            throw py::error_already_set();
    }
}

py::bytes wav_header(const format_fields& fields, std::int64_t frame_count)
{
    const puretone_format format = description(fields);
    unsigned char header[PURETONE_HEADER_MAX];
    const int length = puretone_header_length(&format);
    const int code = length < 0 ? length : puretone_header(&format, frame_count, header);
    if (code != PURETONE_OK)
        throw py::value_error(puretone_strerror(code));
    return py::bytes(reinterpret_cast<const char*>(header), static_cast<std::size_t>(length));
}

std::int64_t signal_length(const format_fields& fields, const signal_fields& signal_parts)
{
    const puretone_format format = description(fields);
    const signal_description signal = description(signal_parts);
    return puretone_signal_length(&format, &signal.signal);
}

std::int64_t longest_frames(const format_fields& fields)
{
    const puretone_format format = description(fields);
    return puretone_longest_frames(&format);
}

}  // namespace

PYBIND11_MODULE(_puretone, module)
{
    module.doc() = "The C API of libpuretone, for the puretone package.";
    module.attr("__version__") = puretone_version();
    module.def("check", &check, py::arg("format"), py::arg("signal"), py::arg("start"), py::arg("count"),
               py::arg("inverse") = false);
    module.def("fill", &fill, py::arg("format"), py::arg("signal"), py::arg("start"), py::arg("out").noconvert(),
               py::arg("inverse") = false);
    module.def("signal_length", &signal_length, py::arg("format"), py::arg("signal"));
    module.def("wav_header", &wav_header, py::arg("format"), py::arg("frame_count"));
    module.def("longest_frames", &longest_frames, py::arg("format"));
}
