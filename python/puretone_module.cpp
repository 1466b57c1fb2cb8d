// The extension module puretone._puretone: the library's C API for the
// package's Python functions (puretone/__init__.py), which take and check
// the arguments and give the signatures and documentation. Here:
//   check(frequency, start, count) -> None or (code, message)
//   fill(frequency, start, out)    fills an int16 array in place
//   wav_header(sample_count)       -> bytes, or ValueError
// Values are those of the C API: a double and int64 indices.
//
// fill works in chunks with the GIL released, and between chunks runs
// Python's signal handlers: Ctrl-C raises KeyboardInterrupt within a chunk's
// time (a few milliseconds), and nothing more is written once it is raised.
#include <puretone/puretone.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>

namespace py = pybind11;

namespace {

// About 3 ms of samples on one core of 2020s x86-64: short enough that a
// signal is seen long before a person notices, long enough that the checks
// cost nothing measurable.
constexpr std::int64_t chunk_samples = std::int64_t{1} << 20;

py::object check(double frequency, std::int64_t start, std::int64_t count)
{
    // A NULL buffer has the library check everything but the buffer.
    const int code = puretone_samples(frequency, start, count, nullptr);
    if (code == PURETONE_OK || code == PURETONE_ERROR_NULL)
        return py::none();
    return py::make_tuple(code, puretone_strerror(code));
}

// `out` has been checked by the caller (contiguous, writeable, native int16,
// one dimension) and the window by check().
void fill(double frequency, std::int64_t start, py::array_t<std::int16_t, 0> out)
{
    std::int16_t* data = out.mutable_data();
    const std::int64_t count = out.shape(0);
    for (std::int64_t done = 0; done < count;) {
        const std::int64_t n = std::min(chunk_samples, count - done);
        int code = PURETONE_OK;
        {
            py::gil_scoped_release unlocked;
            code = puretone_samples(frequency, start + done, n, data + done);
        }
        if (code != PURETONE_OK)  // checked before: not reached
            throw py::value_error(puretone_strerror(code));
        done += n;
        if (done < count && PyErr_CheckSignals() != 0)
            throw py::error_already_set();
    }
}

py::bytes wav_header(std::int64_t sample_count)
{
    unsigned char header[44];
    const int code = puretone_wav_header(sample_count, header);
    if (code != PURETONE_OK)
        throw py::value_error(puretone_strerror(code));
    return py::bytes(reinterpret_cast<const char*>(header), sizeof header);
}

}  // namespace

PYBIND11_MODULE(_puretone, module)
{
    module.doc() = "The C API of libpuretone, for the puretone package.";
    module.attr("__version__") = puretone_version();
    module.def("check", &check, py::arg("frequency"), py::arg("start"), py::arg("count"));
    module.def("fill", &fill, py::arg("frequency"), py::arg("start"), py::arg("out").noconvert());
    module.def("wav_header", &wav_header, py::arg("sample_count"));
}
