#include "visa/attributes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pgx::visa {

void AttributeSet::add(ViAttr id, AttrType type, ViAttrState value) {
  attributes_.push_back({id, type, false, value, value, value, {}});
}

void AttributeSet::add_text(ViAttr id, std::string text) {
  attributes_.push_back({id, AttrType::kString, false, 0, 0, 0, std::move(text)});
}

void AttributeSet::add_writable(ViAttr id, AttrType type, ViAttrState value, ViAttrState min,
                                ViAttrState max) {
  if (type == AttrType::kBoolean) {
    min = VI_FALSE;
    max = VI_TRUE;
  }
  attributes_.push_back({id, type, true, value, min, max, {}});
}

const AttributeSet::Attribute* AttributeSet::find(ViAttr id) const {
  for (const auto& a : attributes_)
    if (a.id == id) return &a;
  return nullptr;
}

AttributeSet::Attribute* AttributeSet::find(ViAttr id) {
  return const_cast<Attribute*>(static_cast<const AttributeSet*>(this)->find(id));
}

ViAttrState AttributeSet::number(ViAttr id) const {
  const Attribute* a = find(id);
  return a ? a->value : 0;
}

namespace {
template <typename T>
void store(void* out, ViAttrState value) {
  T typed = static_cast<T>(value);
  std::memcpy(out, &typed, sizeof typed);
}
}  // namespace

ViStatus AttributeSet::get(ViAttr id, void* out) const {
  const Attribute* a = find(id);
  if (!a) return VI_ERROR_NSUP_ATTR;
  if (!out) return VI_ERROR_USER_BUF;
  switch (a->type) {
    case AttrType::kUInt8:
      store<ViUInt8>(out, a->value);
      break;
    case AttrType::kUInt16:
      store<ViUInt16>(out, a->value);
      break;
    case AttrType::kInt16:
      store<ViInt16>(out, a->value);
      break;
    case AttrType::kUInt32:
      store<ViUInt32>(out, a->value);
      break;
    case AttrType::kInt32:
      store<ViInt32>(out, a->value);
      break;
    case AttrType::kBoolean:
      store<ViBoolean>(out, a->value);
      break;
    case AttrType::kUInt64:
      store<ViUInt64>(out, a->value);
      break;
    case AttrType::kAddr:
      store<std::uintptr_t>(out, a->value);
      break;
    case AttrType::kString: {
      std::size_t n = std::min(a->text.size(), std::size_t{VI_FIND_BUFLEN - 1});
      std::memcpy(out, a->text.data(), n);
      static_cast<char*>(out)[n] = '\0';
      break;
    }
  }
  return VI_SUCCESS;
}

ViStatus AttributeSet::set(ViAttr id, ViAttrState value) {
  Attribute* a = find(id);
  if (!a) return VI_ERROR_NSUP_ATTR;
  if (!a->writable) return VI_ERROR_ATTR_READONLY;
  if (a->type == AttrType::kInt16 || a->type == AttrType::kInt32) {
    // A signed value arrives in the attribute's width or sign-extended to 64 bits: -1 is 0xFFFF or ~0.
    long long v = a->type == AttrType::kInt16 ? static_cast<ViInt16>(value) : static_cast<ViInt32>(value);
    bool fits = a->type == AttrType::kInt16 ? (value <= 0xFFFF || value >= ~ViAttrState{0x7FFF})
                                            : (value <= 0xFFFFFFFFu || value >= ~ViAttrState{0x7FFFFFFF});
    if (!fits || v < static_cast<long long>(a->min) || v > static_cast<long long>(a->max))
      return VI_ERROR_NSUP_ATTR_STATE;
    a->value = static_cast<ViAttrState>(v);
    return VI_SUCCESS;
  }
  if (value < a->min || value > a->max) return VI_ERROR_NSUP_ATTR_STATE;
  a->value = value;
  return VI_SUCCESS;
}

void AttributeSet::update(ViAttr id, ViAttrState value) {
  if (Attribute* a = find(id)) a->value = value;
}

void AttributeSet::update_text(ViAttr id, std::string text) {
  if (Attribute* a = find(id)) a->text = std::move(text);
}

std::optional<long long> AttributeSet::signed_number(ViAttr id) const {
  const Attribute* a = find(id);
  if (!a || a->type == AttrType::kString) return std::nullopt;
  switch (a->type) {
    case AttrType::kInt16:
      return static_cast<ViInt16>(a->value);
    case AttrType::kInt32:
      return static_cast<ViInt32>(a->value);
    default:
      return static_cast<long long>(a->value);
  }
}

const std::string* AttributeSet::text(ViAttr id) const {
  const Attribute* a = find(id);
  return a && a->type == AttrType::kString ? &a->text : nullptr;
}

namespace {

#define PGX_ATTR(a) \
  { a, #a }
constexpr struct {
  ViAttr id;
  const char* name;
} kAttributeNames[] = {
    PGX_ATTR(VI_ATTR_RSRC_CLASS),
    PGX_ATTR(VI_ATTR_RSRC_NAME),
    PGX_ATTR(VI_ATTR_RSRC_IMPL_VERSION),
    PGX_ATTR(VI_ATTR_RSRC_LOCK_STATE),
    PGX_ATTR(VI_ATTR_MAX_QUEUE_LENGTH),
    PGX_ATTR(VI_ATTR_USER_DATA_32),
    PGX_ATTR(VI_ATTR_USER_DATA_64),
    PGX_ATTR(VI_ATTR_FDC_CHNL),
    PGX_ATTR(VI_ATTR_FDC_MODE),
    PGX_ATTR(VI_ATTR_FDC_GEN_SIGNAL_EN),
    PGX_ATTR(VI_ATTR_FDC_USE_PAIR),
    PGX_ATTR(VI_ATTR_SEND_END_EN),
    PGX_ATTR(VI_ATTR_TERMCHAR),
    PGX_ATTR(VI_ATTR_TMO_VALUE),
    PGX_ATTR(VI_ATTR_GPIB_READDR_EN),
    PGX_ATTR(VI_ATTR_IO_PROT),
    PGX_ATTR(VI_ATTR_DMA_ALLOW_EN),
    PGX_ATTR(VI_ATTR_ASRL_BAUD),
    PGX_ATTR(VI_ATTR_ASRL_DATA_BITS),
    PGX_ATTR(VI_ATTR_ASRL_PARITY),
    PGX_ATTR(VI_ATTR_ASRL_STOP_BITS),
    PGX_ATTR(VI_ATTR_ASRL_FLOW_CNTRL),
    PGX_ATTR(VI_ATTR_RD_BUF_OPER_MODE),
    PGX_ATTR(VI_ATTR_RD_BUF_SIZE),
    PGX_ATTR(VI_ATTR_WR_BUF_OPER_MODE),
    PGX_ATTR(VI_ATTR_WR_BUF_SIZE),
    PGX_ATTR(VI_ATTR_SUPPRESS_END_EN),
    PGX_ATTR(VI_ATTR_TERMCHAR_EN),
    PGX_ATTR(VI_ATTR_DEST_ACCESS_PRIV),
    PGX_ATTR(VI_ATTR_DEST_BYTE_ORDER),
    PGX_ATTR(VI_ATTR_SRC_ACCESS_PRIV),
    PGX_ATTR(VI_ATTR_SRC_BYTE_ORDER),
    PGX_ATTR(VI_ATTR_SRC_INCREMENT),
    PGX_ATTR(VI_ATTR_DEST_INCREMENT),
    PGX_ATTR(VI_ATTR_WIN_ACCESS_PRIV),
    PGX_ATTR(VI_ATTR_WIN_BYTE_ORDER),
    PGX_ATTR(VI_ATTR_GPIB_ATN_STATE),
    PGX_ATTR(VI_ATTR_GPIB_ADDR_STATE),
    PGX_ATTR(VI_ATTR_GPIB_CIC_STATE),
    PGX_ATTR(VI_ATTR_GPIB_NDAC_STATE),
    PGX_ATTR(VI_ATTR_GPIB_SRQ_STATE),
    PGX_ATTR(VI_ATTR_GPIB_SYS_CNTRL_STATE),
    PGX_ATTR(VI_ATTR_GPIB_HS488_CBL_LEN),
    PGX_ATTR(VI_ATTR_CMDR_LA),
    PGX_ATTR(VI_ATTR_VXI_DEV_CLASS),
    PGX_ATTR(VI_ATTR_MAINFRAME_LA),
    PGX_ATTR(VI_ATTR_MANF_NAME),
    PGX_ATTR(VI_ATTR_MODEL_NAME),
    PGX_ATTR(VI_ATTR_VXI_VME_INTR_STATUS),
    PGX_ATTR(VI_ATTR_VXI_TRIG_STATUS),
    PGX_ATTR(VI_ATTR_VXI_VME_SYSFAIL_STATE),
    PGX_ATTR(VI_ATTR_WIN_BASE_ADDR_32),
    PGX_ATTR(VI_ATTR_WIN_SIZE_32),
    PGX_ATTR(VI_ATTR_WIN_BASE_ADDR_64),
    PGX_ATTR(VI_ATTR_WIN_SIZE_64),
    PGX_ATTR(VI_ATTR_ASRL_AVAIL_NUM),
    PGX_ATTR(VI_ATTR_MEM_BASE_32),
    PGX_ATTR(VI_ATTR_ASRL_CTS_STATE),
    PGX_ATTR(VI_ATTR_ASRL_DCD_STATE),
    PGX_ATTR(VI_ATTR_ASRL_DSR_STATE),
    PGX_ATTR(VI_ATTR_ASRL_DTR_STATE),
    PGX_ATTR(VI_ATTR_ASRL_END_IN),
    PGX_ATTR(VI_ATTR_ASRL_END_OUT),
    PGX_ATTR(VI_ATTR_ASRL_REPLACE_CHAR),
    PGX_ATTR(VI_ATTR_ASRL_RI_STATE),
    PGX_ATTR(VI_ATTR_ASRL_RTS_STATE),
    PGX_ATTR(VI_ATTR_ASRL_XON_CHAR),
    PGX_ATTR(VI_ATTR_ASRL_XOFF_CHAR),
    PGX_ATTR(VI_ATTR_WIN_ACCESS),
    PGX_ATTR(VI_ATTR_RM_SESSION),
    PGX_ATTR(VI_ATTR_VXI_LA),
    PGX_ATTR(VI_ATTR_MEM_BASE_64),
    PGX_ATTR(VI_ATTR_MEM_SIZE_64),
    PGX_ATTR(VI_ATTR_MANF_ID),
    PGX_ATTR(VI_ATTR_MEM_SIZE_32),
    PGX_ATTR(VI_ATTR_MEM_SPACE),
    PGX_ATTR(VI_ATTR_MODEL_CODE),
    PGX_ATTR(VI_ATTR_SLOT),
    PGX_ATTR(VI_ATTR_INTF_INST_NAME),
    PGX_ATTR(VI_ATTR_IMMEDIATE_SERV),
    PGX_ATTR(VI_ATTR_INTF_PARENT_NUM),
    PGX_ATTR(VI_ATTR_RSRC_SPEC_VERSION),
    PGX_ATTR(VI_ATTR_INTF_TYPE),
    PGX_ATTR(VI_ATTR_GPIB_PRIMARY_ADDR),
    PGX_ATTR(VI_ATTR_GPIB_SECONDARY_ADDR),
    PGX_ATTR(VI_ATTR_RSRC_MANF_NAME),
    PGX_ATTR(VI_ATTR_RSRC_MANF_ID),
    PGX_ATTR(VI_ATTR_INTF_NUM),
    PGX_ATTR(VI_ATTR_TRIG_ID),
    PGX_ATTR(VI_ATTR_GPIB_REN_STATE),
    PGX_ATTR(VI_ATTR_GPIB_UNADDR_EN),
    PGX_ATTR(VI_ATTR_DEV_STATUS_BYTE),
    PGX_ATTR(VI_ATTR_FILE_APPEND_EN),
    PGX_ATTR(VI_ATTR_VXI_TRIG_SUPPORT),
    PGX_ATTR(VI_ATTR_TCPIP_ADDR),
    PGX_ATTR(VI_ATTR_TCPIP_HOSTNAME),
    PGX_ATTR(VI_ATTR_TCPIP_PORT),
    PGX_ATTR(VI_ATTR_TCPIP_DEVICE_NAME),
    PGX_ATTR(VI_ATTR_TCPIP_NODELAY),
    PGX_ATTR(VI_ATTR_TCPIP_KEEPALIVE),
    PGX_ATTR(VI_ATTR_4882_COMPLIANT),
    PGX_ATTR(VI_ATTR_USB_SERIAL_NUM),
    PGX_ATTR(VI_ATTR_USB_INTFC_NUM),
    PGX_ATTR(VI_ATTR_USB_PROTOCOL),
    PGX_ATTR(VI_ATTR_USB_MAX_INTR_SIZE),
    PGX_ATTR(VI_ATTR_PXI_DEV_NUM),
    PGX_ATTR(VI_ATTR_PXI_FUNC_NUM),
    PGX_ATTR(VI_ATTR_PXI_BUS_NUM),
    PGX_ATTR(VI_ATTR_PXI_CHASSIS),
    PGX_ATTR(VI_ATTR_FIND_RSRC_MODE),
    PGX_ATTR(VI_ATTR_JOB_ID),
    PGX_ATTR(VI_ATTR_EVENT_TYPE),
    PGX_ATTR(VI_ATTR_SIGP_STATUS_ID),
    PGX_ATTR(VI_ATTR_RECV_TRIG_ID),
    PGX_ATTR(VI_ATTR_INTR_STATUS_ID),
    PGX_ATTR(VI_ATTR_STATUS),
    PGX_ATTR(VI_ATTR_RET_COUNT_32),
    PGX_ATTR(VI_ATTR_BUFFER),
    PGX_ATTR(VI_ATTR_RET_COUNT_64),
    PGX_ATTR(VI_ATTR_RECV_INTR_LEVEL),
    PGX_ATTR(VI_ATTR_OPER_NAME),
    PGX_ATTR(VI_ATTR_GPIB_RECV_CIC_STATE),
    PGX_ATTR(VI_ATTR_RECV_TCPIP_ADDR),
};
#undef PGX_ATTR

}  // namespace

const char* attribute_name(ViAttr id) {
  for (const auto& known : kAttributeNames)
    if (known.id == id) return known.name;
  return nullptr;
}

std::optional<ViAttr> attribute_by_name(std::string_view name) {
  for (const auto& known : kAttributeNames)
    if (name == known.name) return known.id;
  return std::nullopt;
}

}  // namespace pgx::visa
