// placeholder until the subsystem lands
namespace tw {}
