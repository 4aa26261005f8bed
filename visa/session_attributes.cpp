#include "visa/session_attributes.h"

namespace pgx::visa {
namespace {

constexpr ViVersion kImplementationVersion = 0x00001000;  // 0.1.0 in 12.8.12 bits
constexpr ViUInt32 kDefaultTimeoutMs = 2000;
constexpr ViAttrState kMinus1 = static_cast<ViAttrState>(-1);

void add_resource_attributes(AttributeSet& a) {
  a.add(VI_ATTR_RSRC_IMPL_VERSION, AttrType::kUInt32, kImplementationVersion);
  a.add(VI_ATTR_RSRC_SPEC_VERSION, AttrType::kUInt32, VI_SPEC_VERSION);
  a.add(VI_ATTR_RSRC_LOCK_STATE, AttrType::kUInt32, VI_NO_LOCK);
  a.add_text(VI_ATTR_RSRC_MANF_NAME, "pgx");
  a.add(VI_ATTR_RSRC_MANF_ID, AttrType::kUInt16, 0x3FFF);
  a.add_writable(VI_ATTR_TMO_VALUE, AttrType::kUInt32, kDefaultTimeoutMs, 0, 0xFFFFFFFFu);
  a.add_writable(VI_ATTR_MAX_QUEUE_LENGTH, AttrType::kUInt32, 50, 1, 0xFFFFFFFFu);
  a.add_writable(VI_ATTR_USER_DATA_32, AttrType::kUInt32, 0, 0, 0xFFFFFFFFu);
  a.add_writable(VI_ATTR_USER_DATA_64, AttrType::kUInt64, 0, 0, ~ViAttrState{0});
}

// The attributes of register access (viIn*, viOut*, viMove*, viMapAddress).
void add_register_attributes(AttributeSet& a) {
  for (ViAttr order : {VI_ATTR_SRC_BYTE_ORDER, VI_ATTR_DEST_BYTE_ORDER, VI_ATTR_WIN_BYTE_ORDER})
    a.add_writable(order, AttrType::kUInt16, VI_BIG_ENDIAN, VI_BIG_ENDIAN, VI_LITTLE_ENDIAN);
  for (ViAttr privilege : {VI_ATTR_SRC_ACCESS_PRIV, VI_ATTR_DEST_ACCESS_PRIV, VI_ATTR_WIN_ACCESS_PRIV})
    a.add_writable(privilege, AttrType::kUInt16, VI_DATA_PRIV, VI_DATA_PRIV, VI_D64_NPRIV);
  for (ViAttr increment : {VI_ATTR_SRC_INCREMENT, VI_ATTR_DEST_INCREMENT})
    a.add_writable(increment, AttrType::kInt32, 1, 0, 1);
  a.add(VI_ATTR_WIN_ACCESS, AttrType::kUInt16, VI_NMAPPED);
  a.add(VI_ATTR_WIN_BASE_ADDR_32, AttrType::kUInt32, 0);
  a.add(VI_ATTR_WIN_BASE_ADDR_64, AttrType::kUInt64, 0);
  a.add(VI_ATTR_WIN_SIZE_32, AttrType::kUInt32, 0);
  a.add(VI_ATTR_WIN_SIZE_64, AttrType::kUInt64, 0);
}

void add_message_attributes(AttributeSet& a) {
  a.add_writable(VI_ATTR_TERMCHAR, AttrType::kUInt8, '\n', 0, 0xFF);
  a.add_writable(VI_ATTR_TERMCHAR_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
  a.add_writable(VI_ATTR_SEND_END_EN, AttrType::kBoolean, VI_TRUE, 0, 1);
  a.add_writable(VI_ATTR_SUPPRESS_END_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
  a.add_writable(VI_ATTR_IO_PROT, AttrType::kUInt16, VI_PROT_NORMAL, VI_PROT_NORMAL, VI_PROT_4882_STRS);
  a.add_writable(VI_ATTR_RD_BUF_OPER_MODE, AttrType::kUInt16, VI_FLUSH_DISABLE, VI_FLUSH_ON_ACCESS,
                 VI_FLUSH_DISABLE);
  a.add(VI_ATTR_RD_BUF_SIZE, AttrType::kUInt32, 4096);
  a.add_writable(VI_ATTR_WR_BUF_OPER_MODE, AttrType::kUInt16, VI_FLUSH_WHEN_FULL, VI_FLUSH_ON_ACCESS,
                 VI_FLUSH_WHEN_FULL);
  a.add(VI_ATTR_WR_BUF_SIZE, AttrType::kUInt32, 4096);
  a.add_writable(VI_ATTR_FILE_APPEND_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
  a.add_writable(VI_ATTR_DMA_ALLOW_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
}

}  // namespace

AttributeSet manager_attributes() {
  AttributeSet a;
  add_resource_attributes(a);
  a.add_text(VI_ATTR_RSRC_NAME, "");
  a.add_text(VI_ATTR_RSRC_CLASS, "");
  return a;
}

AttributeSet session_attributes(const ResourceName& name, const BenchResource* bench,
                                const std::string& tcpip_address, ViObject manager) {
  AttributeSet a;
  add_resource_attributes(a);
  a.add_text(VI_ATTR_RSRC_NAME, name.canonical());
  a.add_text(VI_ATTR_RSRC_CLASS, name.resource_class);
  a.add(VI_ATTR_RM_SESSION, AttrType::kUInt32, manager);
  a.add(VI_ATTR_INTF_TYPE, AttrType::kUInt16, name.interface_type);
  a.add(VI_ATTR_INTF_NUM, AttrType::kUInt16, name.board);
  a.add_text(VI_ATTR_INTF_INST_NAME,
             name.interface_name() + (name.interface_type == VI_INTF_TCPIP ? "" : " (simulated bench)"));
  const std::string& cls = name.resource_class;
  const bool vxi = name.interface_type == VI_INTF_VXI || name.interface_type == VI_INTF_GPIB_VXI;
  if (cls == "INSTR" || cls == "SOCKET" || cls == "INTFC") add_message_attributes(a);
  if (vxi && (cls == "INSTR" || cls == "MEMACC")) add_register_attributes(a);
  switch (name.interface_type) {
    case VI_INTF_GPIB:
      a.add_writable(VI_ATTR_TRIG_ID, AttrType::kInt16, kMinus1, kMinus1, kMinus1);  // VI_TRIG_SW only
      a.add(VI_ATTR_GPIB_REN_STATE, AttrType::kInt16, static_cast<ViAttrState>(VI_STATE_UNKNOWN));
      if (cls == "INTFC") {
        a.add(VI_ATTR_GPIB_PRIMARY_ADDR, AttrType::kUInt16, 0);  // the board's own address
        a.add(VI_ATTR_GPIB_SECONDARY_ADDR, AttrType::kUInt16, VI_NO_SEC_ADDR);
        a.add(VI_ATTR_GPIB_ATN_STATE, AttrType::kInt16, VI_STATE_UNASSERTED);
        a.add(VI_ATTR_GPIB_SRQ_STATE, AttrType::kInt16, VI_STATE_UNASSERTED);
        a.add(VI_ATTR_GPIB_CIC_STATE, AttrType::kBoolean, VI_TRUE);
        a.add(VI_ATTR_GPIB_SYS_CNTRL_STATE, AttrType::kBoolean, VI_TRUE);
        a.add(VI_ATTR_GPIB_ADDR_STATE, AttrType::kInt16, VI_GPIB_UNADDRESSED);
        a.add_writable(VI_ATTR_DEV_STATUS_BYTE, AttrType::kUInt8, 0, 0, 0xFF);
      } else {
        a.add(VI_ATTR_GPIB_PRIMARY_ADDR, AttrType::kUInt16, name.primary_address);
        a.add(VI_ATTR_GPIB_SECONDARY_ADDR, AttrType::kUInt16, name.secondary_address);
        a.add_writable(VI_ATTR_GPIB_READDR_EN, AttrType::kBoolean, VI_TRUE, 0, 1);
        a.add_writable(VI_ATTR_GPIB_UNADDR_EN, AttrType::kBoolean, VI_FALSE, 0, 1);
      }
      break;
    case VI_INTF_VXI:
    case VI_INTF_GPIB_VXI:
      a.add(VI_ATTR_MAINFRAME_LA, AttrType::kInt16, 0);
      if (cls == "BACKPLANE") {
        a.add_writable(VI_ATTR_TRIG_ID, AttrType::kInt16, VI_TRIG_TTL0, VI_TRIG_TTL0, VI_TRIG_ECL1);
        a.add(VI_ATTR_VXI_TRIG_SUPPORT, AttrType::kUInt32, 0x3FF);  // TTL0-7 and ECL0-1
        a.add(VI_ATTR_VXI_TRIG_STATUS, AttrType::kUInt32, 0);
        a.add(VI_ATTR_VXI_VME_SYSFAIL_STATE, AttrType::kInt16, VI_STATE_UNASSERTED);
        break;
      }
      if (cls != "INSTR") break;
      // A module: software triggers, or a trigger line of its backplane.
      a.add_writable(VI_ATTR_TRIG_ID, AttrType::kInt16, kMinus1, kMinus1, VI_TRIG_ECL1);
      a.add(VI_ATTR_VXI_LA, AttrType::kInt16, static_cast<ViAttrState>(name.logical_address));
      a.add(VI_ATTR_SLOT, AttrType::kInt16, static_cast<ViAttrState>(bench ? bench->slot : VI_UNKNOWN_SLOT));
      a.add(VI_ATTR_MANF_ID, AttrType::kUInt16, bench ? bench->manufacturer_id : 0);
      a.add(VI_ATTR_MODEL_CODE, AttrType::kUInt16, bench ? bench->model_code : 0);
      a.add_text(VI_ATTR_MANF_NAME, bench ? bench->manufacturer_name : "");
      a.add_text(VI_ATTR_MODEL_NAME, bench ? bench->model_name : "");
      a.add(VI_ATTR_VXI_DEV_CLASS, AttrType::kUInt16, VI_VXI_CLASS_MESSAGE);
      a.add(VI_ATTR_CMDR_LA, AttrType::kInt16, 0);
      // The modules use A16 space only: their memory is their 64 bytes of configuration registers.
      a.add(VI_ATTR_MEM_SPACE, AttrType::kUInt16, VI_A16_SPACE);
      a.add(VI_ATTR_MEM_BASE_32, AttrType::kUInt32,
            0xC000 + 64u * static_cast<unsigned>(name.logical_address));
      a.add(VI_ATTR_MEM_BASE_64, AttrType::kUInt64,
            0xC000 + 64u * static_cast<unsigned>(name.logical_address));
      a.add(VI_ATTR_MEM_SIZE_32, AttrType::kUInt32, 64);
      a.add(VI_ATTR_MEM_SIZE_64, AttrType::kUInt64, 64);
      break;
    case VI_INTF_ASRL:
      a.add_writable(VI_ATTR_ASRL_BAUD, AttrType::kUInt32, 9600, 1, 0xFFFFFFFFu);
      a.add_writable(VI_ATTR_ASRL_DATA_BITS, AttrType::kUInt16, 8, 5, 8);
      a.add_writable(VI_ATTR_ASRL_PARITY, AttrType::kUInt16, VI_ASRL_PAR_NONE, VI_ASRL_PAR_NONE,
                     VI_ASRL_PAR_SPACE);
      a.add_writable(VI_ATTR_ASRL_FLOW_CNTRL, AttrType::kUInt16, VI_ASRL_FLOW_NONE, 0, 7);
      a.add_writable(VI_ATTR_ASRL_END_IN, AttrType::kUInt16, VI_ASRL_END_TERMCHAR, 0, VI_ASRL_END_TERMCHAR);
      a.add_writable(VI_ATTR_ASRL_END_OUT, AttrType::kUInt16, VI_ASRL_END_NONE, 0, VI_ASRL_END_BREAK);
      break;
    case VI_INTF_TCPIP:
      a.add_text(VI_ATTR_TCPIP_ADDR, tcpip_address);
      a.add_text(VI_ATTR_TCPIP_HOSTNAME, name.host);
      a.add(VI_ATTR_TCPIP_PORT, AttrType::kUInt16, name.port);
      a.add_writable(VI_ATTR_TCPIP_NODELAY, AttrType::kBoolean, VI_TRUE, 0, 1);
      a.add_writable(VI_ATTR_TCPIP_KEEPALIVE, AttrType::kBoolean, VI_FALSE, 0, 1);
      a.add_writable(VI_ATTR_TRIG_ID, AttrType::kInt16, kMinus1, kMinus1, kMinus1);
      break;
    default:
      break;
  }
  return a;
}

ViAttr same_value_in_other_width(ViAttr attr) {
  switch (attr) {
    case VI_ATTR_USER_DATA_32:
      return VI_ATTR_USER_DATA_64;
    case VI_ATTR_USER_DATA_64:
      return VI_ATTR_USER_DATA_32;
    default:
      return 0;
  }
}

bool acceptable_value(ViAttr attr, ViAttrState value) {
  switch (attr) {
    case VI_ATTR_RD_BUF_OPER_MODE:
      return value == VI_FLUSH_ON_ACCESS || value == VI_FLUSH_DISABLE;
    case VI_ATTR_WR_BUF_OPER_MODE:
      return value == VI_FLUSH_ON_ACCESS || value == VI_FLUSH_WHEN_FULL;
    default:
      return true;
  }
}

}  // namespace pgx::visa
