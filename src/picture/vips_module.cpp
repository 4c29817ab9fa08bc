// lumaweave-vips.so: the libvips codec, loaded by the program on first need.
#include "picture/vips_codec.hpp"

extern "C" __attribute__((visibility("default"))) lumaweave::picture::Codec*
lumaweave_picture_codec(int interface_version) {
    if (interface_version != lumaweave::picture::codec_interface_version) return nullptr;
    return &lumaweave::picture::vips_codec();
}
