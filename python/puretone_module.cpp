// The extension module puretone._puretone: exact tones as numpy arrays,
// over the public C API alone, as any other user of the library would.
//
// Arguments are taken strictly: a count or an index must be an integer (an
// int, a numpy integer, anything with __index__), a frequency a real number;
// a float is never truncated into a count, and a string is never parsed
// (TypeError). Values are then checked by the library itself, so Python
// raises ValueError with the library's own message. The array is allocated
// once and filled in place, with the GIL released.
#include <puretone/puretone.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace py = pybind11;

namespace {

constexpr std::int64_t samples_per_second = 44100;

std::string type_name(py::handle value)
{
    return Py_TYPE(value.ptr())->tp_name;
}

// An integer argument, as int64. Values beyond int64 become its ends, which
// the library refuses as it would any value past its range.
std::int64_t integer_argument(py::handle value, const char* name)
{
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) {
        PyErr_Clear();
        throw py::type_error(std::string(name) + " must be an integer, not " + type_name(value));
    }
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0)
        return overflow > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return result;
}

// A real argument (int, float, numpy scalar: anything with __float__ or
// __index__, but not a string). An int too large for a double becomes an
// infinity, which the library refuses.
double real_argument(py::handle value, const char* name)
{
    if (!PyUnicode_Check(value.ptr()) && !PyBytes_Check(value.ptr())) {
        const double result = PyFloat_AsDouble(value.ptr());
        if (result != -1.0 || !PyErr_Occurred())
            return result;
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
            PyErr_Clear();
            return PyObject_RichCompareBool(value.ptr(), py::int_(0).ptr(), Py_LT) == 1 ? -INFINITY : INFINITY;
        }
        PyErr_Clear();
    }
    throw py::type_error(std::string(name) + " must be a real number, not " + type_name(value));
}

// `out`, checked to be what the samples can go into as they are: a
// writeable, contiguous, one-dimensional int16 array of `count` elements.
py::array_t<std::int16_t> output_array(py::handle out, std::int64_t count)
{
    if (!py::isinstance<py::array>(out))
        throw py::type_error("out must be a numpy.ndarray, not " + type_name(out));
    auto array = py::reinterpret_borrow<py::array>(out);
    if (!array.dtype().equal(py::dtype::of<std::int16_t>()))
        throw py::type_error("out must have dtype int16 in native byte order, not " +
                             std::string(py::str(array.dtype())));
    if (array.ndim() != 1 || array.shape(0) != count)
        throw py::value_error("out must have shape (" + std::to_string(count) + ",)");
    if ((array.flags() & py::array::c_style) == 0 || !array.writeable())
        throw py::value_error("out must be contiguous and writeable");
    return py::reinterpret_borrow<py::array_t<std::int16_t>>(out);
}

py::array_t<std::int16_t> make_samples(double frequency, std::int64_t start, std::int64_t count, py::handle out,
                                       const std::string& context)
{
    // A NULL buffer has the library check everything but the buffer.
    const int check = puretone_samples(frequency, start, count, nullptr);
    if (check != PURETONE_OK && check != PURETONE_ERROR_NULL)
        throw py::value_error(context + puretone_strerror(check));
    py::array_t<std::int16_t> array = out.is_none() ? py::array_t<std::int16_t>(count) : output_array(out, count);
    std::int16_t* data = array.mutable_data();
    int code = PURETONE_OK;
    {
        py::gil_scoped_release unlocked;
        code = puretone_samples(frequency, start, count, data);
    }
    if (code != PURETONE_OK)  // checked above: not reached
        throw py::value_error(context + puretone_strerror(code));
    return array;
}

py::array_t<std::int16_t> samples(py::handle frequency, py::handle count, py::handle start, py::handle out)
{
    return make_samples(real_argument(frequency, "frequency"), integer_argument(start, "start"),
                        integer_argument(count, "count"), out, "");
}

py::array_t<std::int16_t> tone(py::handle frequency, py::handle seconds)
{
    const double hz = real_argument(frequency, "frequency");
    const std::int64_t whole_seconds = integer_argument(seconds, "seconds");
    // Past 48695 s the library refuses the count anyway; this keeps the
    // product within int64 on the way there.
    constexpr std::int64_t most_seconds = std::numeric_limits<std::int64_t>::max() / samples_per_second;
    const std::int64_t count = whole_seconds > most_seconds ? std::numeric_limits<std::int64_t>::max()
                               : whole_seconds < -most_seconds ? std::numeric_limits<std::int64_t>::min()
                                                               : whole_seconds * samples_per_second;
    return make_samples(hz, 0, count, py::none(), "seconds=" + std::to_string(whole_seconds) + ": ");
}

py::bytes wav_header(py::handle sample_count)
{
    unsigned char header[44];
    const int code = puretone_wav_header(integer_argument(sample_count, "sample_count"), header);
    if (code != PURETONE_OK)
        throw py::value_error(puretone_strerror(code));
    return py::bytes(reinterpret_cast<const char*>(header), sizeof header);
}

}  // namespace

PYBIND11_MODULE(_puretone, module)
{
    module.doc() = "Exact sine tones as numpy arrays: the samples of a correctly rounded sine, "
                   "the same on every machine.";
    module.attr("__version__") = puretone_version();
    // Each docstring's first line gives the signature in Python's terms.
    py::options options;
    options.disable_function_signatures();
    module.def("samples", &samples, py::arg("frequency"), py::arg("count"), py::arg("start") = 0, py::kw_only(),
               py::arg("out") = py::none(),
               R"(samples(frequency, count, start=0, *, out=None) -> numpy.ndarray

Samples start .. start+count-1 of the full-scale tone at `frequency` Hz,
44100 samples a second, phase zero: int16, shape (count,), bit for bit
those the program writes at those indices.

frequency: a real number, finite, |frequency| <= 2**31 (whole or not).
count, start: integers >= 0, with start + count <= 2**31.
out: an int16 array of shape (count,), contiguous and writeable, to fill
     and return instead of a new one.

Raises ValueError for values out of range, TypeError for a wrong type
(a float count is never truncated). The GIL is released while the
samples are made.)");
    module.def("tone", &tone, py::arg("frequency") = 440, py::arg("seconds") = 10,
               R"(tone(frequency=440, seconds=10) -> numpy.ndarray

A whole tone, as the program writes it: seconds * 44100 int16 samples
from index 0. seconds: a whole number from 0 to 48695.

Raises ValueError for values out of range, TypeError for a wrong type.)");
    module.def("wav_header", &wav_header, py::arg("sample_count"),
               R"(wav_header(sample_count) -> bytes

The 44-byte header of a mono, 16-bit, 44100 Hz WAV file holding
sample_count samples, as the program writes it: 0 <= sample_count
<= 2147483629 (the most whose sizes fit the RIFF fields).

Raises ValueError for a count out of range, TypeError for a non-integer.)");
}
