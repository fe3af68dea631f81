// The `avikit` Python module: exact frames as numpy arrays, batches, and sound, over the
// library's modern readers. Decoding runs without the GIL, so readers on several threads work at
// once; readers pickle as their path (or bytes), options and position.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avikit/reader.h"
#include "cli/probe_json.h"

namespace py = pybind11;
using avikit::PixelFormat;

namespace {

// numpy's shape of one frame: pictures of three channels are (H, W, 3), grey (H, W); planar and
// bitmap layouts are a flat run of bytes.
std::vector<py::ssize_t> frame_shape(PixelFormat f, int w, int h) {
  switch (f) {
    case PixelFormat::kRgb24:
    case PixelFormat::kBgr24:
      return {h, w, 3};
    case PixelFormat::kGray8:
      return {h, w};
    default:
      return {static_cast<py::ssize_t>(avikit::frame_bytes(f, w, h))};
  }
}

// What a reader opens: bytes, bytearray and memoryview are the file itself, copied once into
// bytes the reader shares (so the caller may change or drop its buffer); anything else is a path
// (str or os.PathLike).
struct Source {
  std::string path;
  std::shared_ptr<const std::string> bytes;

  explicit Source(const py::object& given) {
    if (!PyBytes_Check(given.ptr()) && !PyByteArray_Check(given.ptr()) &&
        !PyMemoryView_Check(given.ptr())) {
      path = py::module_::import("os").attr("fsdecode")(given).cast<std::string>();
      return;
    }
    Py_buffer view;
    if (PyObject_GetBuffer(given.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    try {
      bytes = std::make_shared<const std::string>(static_cast<const char*>(view.buf),
                                                  static_cast<std::size_t>(view.len));
    } catch (...) {
      PyBuffer_Release(&view);
      throw;
    }
    PyBuffer_Release(&view);
  }
  // What pickling keeps: the bytes themselves, as the path would mean nothing elsewhere.
  py::object state() const {
    return bytes != nullptr ? py::object(py::bytes(*bytes)) : py::object(py::str(path));
  }
};

avikit::VideoReader open_video(const Source& s, int stream) {
  if (s.bytes != nullptr) return avikit::VideoReader(avikit::InMemoryFile(s.bytes), stream);
  return avikit::VideoReader(s.path, stream);
}

avikit::AudioReader open_audio(const Source& s, int rate, int channels, int stream) {
  if (s.bytes != nullptr) {
    return avikit::AudioReader(avikit::InMemoryFile(s.bytes), rate, channels, stream);
  }
  return avikit::AudioReader(s.path, rate, channels, stream);
}

class PyVideoReader {
 public:
  PyVideoReader(const py::object& source, const std::string& format, int stream)
      : source_(source),
        reader_(open_video(source_, stream)),
        format_(avikit::parse_pixel_format(format)),
        stream_(stream) {}

  py::ssize_t length() const { return static_cast<py::ssize_t>(reader_.frame_count()); }
  std::vector<py::ssize_t> shape() const {
    return frame_shape(format_, reader_.width(), reader_.height());
  }

  py::array_t<std::uint8_t> get(std::int64_t index) {
    py::array_t<std::uint8_t> out(shape());
    std::uint8_t* data = out.mutable_data();
    const std::size_t bytes = static_cast<std::size_t>(out.nbytes());
    {
      py::gil_scoped_release unlocked;
      reader_.read(index, format_, {data, bytes});
    }
    next_ = (index < 0 ? index + reader_.frame_count() : index) + 1;
    return out;
  }

  py::array_t<std::uint8_t> batch(const std::vector<std::int64_t>& indices) {
    std::vector<py::ssize_t> s = shape();
    s.insert(s.begin(), static_cast<py::ssize_t>(indices.size()));
    py::array_t<std::uint8_t> out(s);
    std::uint8_t* data = out.mutable_data();
    const std::size_t bytes = static_cast<std::size_t>(out.nbytes());
    {
      py::gil_scoped_release unlocked;
      reader_.read_batch(indices, format_, {data, bytes});
    }
    return out;
  }

  py::object item(const py::object& key) {
    if (py::isinstance<py::slice>(key)) {
      std::size_t start = 0, stop = 0, step = 0, count = 0;
      if (!key.cast<py::slice>().compute(static_cast<std::size_t>(length()), &start, &stop, &step,
                                         &count)) {
        throw py::error_already_set();
      }
      std::vector<std::int64_t> indices(count);
      for (std::size_t i = 0; i < count; ++i) {
        indices[i] = static_cast<std::int64_t>(start + i * step);
      }
      return batch(indices);
    }
    return get(key.cast<std::int64_t>());
  }

  py::array_t<std::uint8_t> next() {
    if (next_ >= reader_.frame_count()) throw py::stop_iteration();
    return get(next_);
  }

  py::object fps() const {
    const avikit::Rational r = reader_.fps();
    return py::module_::import("fractions").attr("Fraction")(r.num, r.den);
  }

  py::tuple state() const {
    return py::make_tuple(source_.state(), avikit::pixel_format_name(format_), stream_, next_);
  }

  Source source_;
  avikit::VideoReader reader_;
  PixelFormat format_;
  int stream_;
  std::int64_t next_ = 0;  // the frame iteration gives next
};

class PyAudioReader {
 public:
  PyAudioReader(const py::object& source, int rate, int channels, int stream)
      : source_(source),
        reader_(open_audio(source_, rate, channels, stream)),
        rate_(rate),
        channels_(channels),
        stream_(stream) {}

  py::array read(std::int64_t start, std::int64_t count, const std::string& dtype) {
    if (dtype != "int16" && dtype != "float32") {
      throw py::value_error("dtype must be 'int16' or 'float32'");
    }
    // -1 reads to the end: the length is an estimate, the reader stops where the sound does.
    if (count < 0)
      count = std::max<std::int64_t>(reader_.sample_count() - start, 0) + reader_.rate();
    std::vector<std::int16_t> s;
    {
      py::gil_scoped_release unlocked;
      s = reader_.read(start, count);
    }
    const auto ch = static_cast<py::ssize_t>(reader_.channels());
    const py::ssize_t frames = static_cast<py::ssize_t>(s.size()) / ch;
    if (dtype == "int16") {
      py::array_t<std::int16_t> out({frames, ch});
      std::memcpy(out.mutable_data(), s.data(), s.size() * sizeof(std::int16_t));
      return out;
    }
    py::array_t<float> out({frames, ch});
    float* f = out.mutable_data();
    for (std::size_t i = 0; i < s.size(); ++i) f[i] = static_cast<float>(s[i]) / 32768.0f;
    return out;
  }

  py::tuple state() const { return py::make_tuple(source_.state(), rate_, channels_, stream_); }

  Source source_;
  avikit::AudioReader reader_;
  int rate_;
  int channels_;
  int stream_;
};

py::object probe(const std::string& path) {
  std::string text;
  {
    py::gil_scoped_release unlocked;
    text = avicli::probe_json(path).dump(-1, ' ', false, avicli::Json::error_handler_t::replace);
  }
  return py::module_::import("json").attr("loads")(text);
}

}  // namespace

PYBIND11_MODULE(avikit, m) {
  m.doc() = "Exact, fast access to AVI and WAVE files: frames as numpy arrays, batches, sound.";

  static py::exception<avikit::Error> error(m, "Error", PyExc_RuntimeError);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const avikit::Error& e) {
      using avikit::ErrorCode;
      switch (e.code()) {
        case ErrorCode::kNoSuchFile:
          PyErr_SetString(PyExc_FileNotFoundError, e.what());
          return;
        case ErrorCode::kIsDirectory:
          PyErr_SetString(PyExc_IsADirectoryError, e.what());
          return;
        case ErrorCode::kPermissionDenied:
          PyErr_SetString(PyExc_PermissionError, e.what());
          return;
        case ErrorCode::kOutOfRange:
          PyErr_SetString(PyExc_IndexError, e.what());
          return;
        case ErrorCode::kInvalidArgument:
          PyErr_SetString(PyExc_ValueError, e.what());
          return;
        default:
          error(e.what());
      }
    }
  });

  m.def("probe", &probe, py::arg("path"),
        "What the file holds: type, size, length, bit rate and every decodable stream.");

  py::class_<PyVideoReader>(m, "VideoReader",
                            "Frame-accurate reader of one video stream of an AVI file.\n\n"
                            "r[i], r[-1], r[a:b:c] and get_batch() return frames as uint8 arrays: "
                            "(H, W, 3) for rgb24/bgr24, (H, W) for gray, flat bytes for yuv420p "
                            "and dib. Every index gives the same picture whatever the order of "
                            "the calls.")
      .def(py::init<const py::object&, const std::string&, int>(), py::arg("path"),
           py::arg("format") = "rgb24", py::arg("stream") = -1)
      .def("__len__", &PyVideoReader::length)
      .def("__getitem__", &PyVideoReader::item, py::arg("index"))
      .def("__iter__", [](PyVideoReader& r) -> PyVideoReader& { return r; })
      .def("__next__", &PyVideoReader::next)
      .def("get_batch", &PyVideoReader::batch, py::arg("indices"),
           "Frames fetched in file order, returned in the order asked: (N, ...) uint8.")
      .def(
          "seek", [](PyVideoReader& r, std::int64_t i) { r.next_ = i; }, py::arg("index"),
          "Where iteration goes on from.")
      .def_property_readonly("fps", &PyVideoReader::fps, "Exact frame rate (fractions.Fraction).")
      .def_property_readonly("duration",
                             [](const PyVideoReader& r) { return r.reader_.duration(); })
      .def_property_readonly("width", [](const PyVideoReader& r) { return r.reader_.width(); })
      .def_property_readonly("height", [](const PyVideoReader& r) { return r.reader_.height(); })
      .def_property_readonly("shape",
                             [](const PyVideoReader& r) { return py::tuple(py::cast(r.shape())); })
      .def_property_readonly(
          "format", [](const PyVideoReader& r) { return avikit::pixel_format_name(r.format_); })
      .def_property_readonly("codec", [](const PyVideoReader& r) { return r.reader_.codec(); })
      .def_property_readonly("fourcc", [](const PyVideoReader& r) { return r.reader_.fourcc(); })
      .def_property_readonly("key_frames",
                             [](const PyVideoReader& r) { return r.reader_.key_frames(); })
      .def_property_readonly("path", [](const PyVideoReader& r) { return r.reader_.path(); })
      .def_property_readonly(
          "position", [](const PyVideoReader& r) { return r.next_; },
          "The frame iteration gives next.")
      .def(py::pickle([](const PyVideoReader& r) { return r.state(); },
                      [](const py::tuple& t) {
                        auto r = std::make_unique<PyVideoReader>(t[0], t[1].cast<std::string>(),
                                                                 t[2].cast<int>());
                        r->next_ = t[3].cast<std::int64_t>();
                        return r;
                      }));

  py::class_<PyAudioReader>(m, "AudioReader",
                            "Sound of an AVI or WAVE file as interleaved samples, resampled to "
                            "`rate` Hz and `channels` channels (0: the stream's own).")
      .def(py::init<const py::object&, int, int, int>(), py::arg("path"), py::arg("rate") = 0,
           py::arg("channels") = 0, py::arg("stream") = -1)
      .def("__len__", [](const PyAudioReader& a) { return a.reader_.sample_count(); })
      .def("read", &PyAudioReader::read, py::arg("start") = 0, py::arg("count") = -1,
           py::arg("dtype") = "int16",
           "`count` sample frames (-1: to the end) from sample frame `start`: (N, channels).")
      .def(
          "read_time",
          [](PyAudioReader& a, double start, double seconds, const std::string& dtype) {
            return a.read(std::llround(start * a.reader_.rate()),
                          std::llround(seconds * a.reader_.rate()), dtype);
          },
          py::arg("start"), py::arg("seconds"), py::arg("dtype") = "int16")
      .def_property_readonly("rate", [](const PyAudioReader& a) { return a.reader_.rate(); })
      .def_property_readonly("channels",
                             [](const PyAudioReader& a) { return a.reader_.channels(); })
      .def_property_readonly("source_rate",
                             [](const PyAudioReader& a) { return a.reader_.source_rate(); })
      .def_property_readonly("source_channels",
                             [](const PyAudioReader& a) { return a.reader_.source_channels(); })
      .def_property_readonly("duration",
                             [](const PyAudioReader& a) { return a.reader_.duration(); })
      .def_property_readonly("path", [](const PyAudioReader& a) { return a.reader_.path(); })
      .def(py::pickle([](const PyAudioReader& a) { return a.state(); },
                      [](const py::tuple& t) {
                        return std::make_unique<PyAudioReader>(t[0], t[1].cast<int>(),
                                                               t[2].cast<int>(), t[3].cast<int>());
                      }));
}
