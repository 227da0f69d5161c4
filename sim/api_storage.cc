// Disks, images, and the image tasks (import, export, copy) that run in the
// background of a region.
#include "sim/api_internal.h"
#include "sim/clock.h"

namespace kestrune::sim {
namespace {

ActionResult DescribeDisks(ActionContext& c) {
  const std::string_view only_instance = c.P("InstanceId");
  const std::vector<std::string> ids = ParseIdList(c.P("DiskIds"));
  std::vector<Node> records;
  for (const Instance* in : c.world().InstancesIn(c.P("RegionId"))) {
    const std::string disk_id = "d-" + in->id.substr(2);
    if (!only_instance.empty() && in->id != only_instance) continue;
    if (!ids.empty() && std::find(ids.begin(), ids.end(), disk_id) == ids.end()) continue;
    Node d = Node::Object("Disk");
    d.Str("DiskId", disk_id);
    d.Str("RegionId", in->region);
    d.Str("ZoneId", in->zone);
    d.Str("DiskName", in->name + "-system");
    d.Str("Description", "");
    d.Str("Type", "system");
    d.Str("Category", "cloud_essd");
    d.Str("PerformanceLevel", "PL0");
    d.Num("Size", 40);
    d.Str("ImageId", in->image_id);
    d.Str("SourceSnapshotId", "");
    d.Bool("Portable", false);
    d.Str("Status", "In_use");
    d.Str("InstanceId", in->id);
    d.Str("Device", "/dev/xvda");
    d.Bool("DeleteWithInstance", true);
    d.Bool("DeleteAutoSnapshot", true);
    d.Bool("EnableAutoSnapshot", true);
    d.Bool("Encrypted", false);
    d.Str("DiskChargeType", "PostPaid");
    d.Str("CreationTime", FormatMinuteTimestamp(in->creation_ms));
    d.Str("AttachedTime", FormatMinuteTimestamp(in->creation_ms + 60000));
    records.push_back(std::move(d));
  }
  return c.PagedList(Node::List("Disks", "Disk"), records);
}

ActionResult DescribeImages(ActionContext& c) {
  struct Image {
    const char* id;
    const char* name;
    const char* os;
    const char* platform;
  };
  static constexpr Image kImages[] = {
      {"aliyun_3_x64_20G_alibase_20240819.vhd", "Alibaba Cloud Linux 3.2104 LTS 64位",
       "Alibaba Cloud Linux  3.2104 LTS 64位", "Aliyun"},
      {"ubuntu_22_04_x64_20G_alibase_20240812.vhd", "Ubuntu 22.04 64位", "Ubuntu  22.04 64位",
       "Ubuntu"},
      {"centos_7_9_x64_20G_alibase_20240628.vhd", "CentOS 7.9 64位", "CentOS  7.9 64位", "CentOS"},
      {"debian_12_6_x64_20G_alibase_20240819.vhd", "Debian 12.6 64位", "Debian  12.6 64位",
       "Debian"},
      {"win2022_21H2_x64_dtc_zh-cn_40G_alibase_20240816.vhd",
       "Windows Server 2022 数据中心版 64位中文版", "Windows Server  2022 数据中心版 64位中文版",
       "Windows Server 2022"},
  };
  const std::string_view name = c.P("ImageName");
  std::vector<Node> records;
  for (const Image& image : kImages) {
    if (!name.empty() && std::string_view(image.name).find(name) == std::string_view::npos &&
        std::string_view(image.id).find(name) == std::string_view::npos) {
      continue;
    }
    Node i = Node::Object("Image");
    i.Str("ImageId", image.id);
    i.Str("ImageName", image.id);
    i.Str("ImageVersion", "");
    i.Str("Description", image.name);
    i.Num("Size", std::string_view(image.id).starts_with("win") ? 40 : 20);
    i.Str("Architecture", "x86_64");
    i.Str("OSName", image.os);
    i.Str("OSType", std::string_view(image.id).starts_with("win") ? "windows" : "linux");
    i.Str("Platform", image.platform);
    i.Str("ImageOwnerAlias", "system");
    i.Bool("IsSupportIoOptimized", true);
    i.Bool("IsSelfShared", false);
    i.Str("Status", "Available");
    i.Str("Usage", "instance");
    i.Str("CreationTime", "2024-08-19T00:00:00Z");
    records.push_back(std::move(i));
  }
  c.root().Str("RegionId", std::string(c.P("RegionId")));
  return c.PagedList(Node::List("Images", "Image"), records);
}

// ImportImage (`import`) and CopyImage: each starts a task in its region.
ActionResult ImageTask(ActionContext& c, bool import) {
  const std::string_view region = import ? c.P("RegionId") : c.P("DestinationRegionId");
  if (FindRegion(region) == nullptr) {
    return InvalidParameterError(import ? "RegionId" : "DestinationRegionId");
  }
  Task& task = c.world().CreateTask(region, import ? "ImportImage" : "CopyImage", c.call().now_ms);
  c.root().Str("ImageId", c.world().RandomId("m-"));
  if (import) {
    c.root().Str("TaskId", task.id);
    c.root().Str("RegionId", std::string(region));
  }
  return c.Done();
}

std::string TaskTime(std::int64_t ms) { return ms == 0 ? "" : FormatTimestamp(ms); }

ActionResult DescribeTasks(ActionContext& c) {
  auto page = ReadPage(c.params(), 100);
  if (auto* error = std::get_if<ApiError>(&page)) return *error;
  std::vector<const Task*> all = c.world().TasksIn(c.P("RegionId"));
  const std::vector<std::string> ids = ParseIdList(c.P("TaskIds"));
  if (!ids.empty()) {
    std::erase_if(
        all, [&](const Task* t) { return std::find(ids.begin(), ids.end(), t->id) == ids.end(); });
  }
  for (std::string_view field : {"TaskAction", "TaskStatus"}) {
    const std::string_view wanted = c.P(field);
    if (wanted.empty()) continue;
    std::erase_if(all, [&](const Task* t) {
      return (field == "TaskAction" ? t->action : t->status) != wanted;
    });
  }
  const Page& p = std::get<Page>(page);
  c.root().Str("RegionId", std::string(c.P("RegionId")));
  c.root().Num("TotalCount", static_cast<std::int64_t>(all.size()));
  c.root().Num("PageNumber", p.number);
  c.root().Num("PageSize", p.size);
  Node set = Node::List("TaskSet", "Task");
  for (const Task* task : Slice(all, p)) {
    set.NewItem()
        .Str("TaskId", task->id)
        .Str("TaskAction", task->action)
        .Str("TaskStatus", task->status)
        .Str("SupportCancel", task->support_cancel ? "true" : "false")
        .Str("CreationTime", TaskTime(task->creation_ms))
        .Str("FinishedTime", TaskTime(task->finished_ms));
  }
  c.root().Add(std::move(set));
  return c.Done();
}

// Task named by TaskId, in RegionId.
std::variant<Task*, ApiError> TargetTask(ActionContext& c) {
  Task* task = c.world().FindTask(c.P("TaskId"));
  if (task == nullptr || task->region != c.P("RegionId")) {
    return ApiError{404, "InvalidTaskId.NotFound", "The specified TaskId does not exist."};
  }
  return task;
}

ActionResult DescribeTaskAttribute(ActionContext& c) {
  auto target = TargetTask(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  const Task& task = *std::get<Task*>(target);
  const bool finished = task.status == "Finished";
  const std::string progress = finished ? "100%" : task.status == "Processing" ? "42%" : "0%";
  Node& root = c.root();
  root.Str("RegionId", task.region);
  root.Str("TaskId", task.id);
  root.Str("TaskAction", task.action);
  root.Str("TaskStatus", task.status);
  root.Str("TaskProcess", progress);
  root.Str("SupportCancel", task.support_cancel ? "true" : "false");
  root.Num("TotalCount", 1);
  root.Num("SuccessCount", finished ? 1 : 0);
  root.Num("FailedCount", 0);
  root.Str("CreationTime", TaskTime(task.creation_ms));
  root.Str("FinishedTime", TaskTime(task.finished_ms));
  Node set = Node::List("OperationProgressSet", "OperationProgress");
  Node& op = set.NewItem();
  op.Str("OperationStatus", finished ? "Success" : task.status);
  op.Str("ErrorCode", "");
  op.Str("ErrorMsg", "");
  Node related = Node::List("RelatedItemSet", "RelatedItem");
  related.NewItem().Str("Name", "ImageId").Str("Value", "m-" + task.id.substr(2));
  op.Add(std::move(related));
  root.Add(std::move(set));
  return c.Done();
}

ActionResult CancelTask(ActionContext& c) {
  auto target = TargetTask(c);
  if (auto* error = std::get_if<ApiError>(&target)) return *error;
  Task& task = *std::get<Task*>(target);
  if (task.status != "Processing" || !task.support_cancel) {
    return ApiError{403, "IncorrectTaskStatus",
                    "The current status of the task does not support this operation."};
  }
  task.status = "Cancelled";
  task.support_cancel = false;
  task.finished_ms = c.call().now_ms;
  return c.Done();
}

constexpr ActionHandler kHandlers[] = {
    {Service::kEcs, "DescribeDisks", DescribeDisks},
    {Service::kEcs, "DescribeImages", DescribeImages},
    {Service::kEcs, "ImportImage", [](ActionContext& c) { return ImageTask(c, true); }},
    {Service::kEcs, "CopyImage", [](ActionContext& c) { return ImageTask(c, false); }},
    {Service::kEcs, "DescribeTasks", DescribeTasks},
    {Service::kEcs, "DescribeTaskAttribute", DescribeTaskAttribute},
    {Service::kEcs, "CancelTask", CancelTask},
};

}  // namespace

std::span<const ActionHandler> StorageHandlers() { return kHandlers; }

}  // namespace kestrune::sim
