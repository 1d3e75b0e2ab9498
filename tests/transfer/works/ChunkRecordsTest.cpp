// The chunk's records as the logs and the requests see them: the checksum
// failure message, the request URL and its range.
#include <gtest/gtest.h>

#include <sstream>

#include "velmo/manifest/StandardNodeListManifest.h"
#include "velmo/manifest/XmlManifestReader.h"
#include "velmo/optimizer/OptimizedRequestParams.h"
#include "velmo/transfer/works/ChecksumStatusData.h"
#include "velmo/transfer/works/HttpTransferStatusData.h"
#include "velmo/transfer/works/TransferSharedMapData.h"

namespace velmo {
namespace {

std::shared_ptr<NodeListManifest> Nodes(const std::string& path) {
  std::istringstream xml(
      "<ArrayOfNodeInfo><NodeInfo NodeId=\"a\" Host=\"h:81\" Path=\"" + path +
      "\" Weight=\"1\"/><NodeInfo NodeId=\"b\" Host=\"https://t:8443\" Weight=\"1\"/>"
      "</ArrayOfNodeInfo>");
  boost::property_tree::ptree tree;
  ReadXmlManifest(xml, tree);
  auto list = std::make_shared<StandardNodeListManifest>();
  list->Parse(tree);
  return list;
}

TEST(ChunkRecordsTest, ChecksumFailureMessageNamesTheChunk) {
  auto file = std::make_shared<TransferSharedFileData>("bin/app", 2500000);
  auto chunk = std::make_shared<TransferSharedMapData>(file, 2097152, 2499999, 0xabc, nullptr);
  chunk->position = 2097152 + 1000;
  chunk->lastStatus = HttpRequestStatus(HttpRequestResult::Success, 402848);
  chunk->lastStatus.responseCode = 206;
  chunk->lastStatus.primaryIp = "127.0.0.1";
  chunk->badNodeCount = 1;
  const ChecksumStatusData data(0xdef0, chunk);
  EXPECT_EQ(data.GetMessage(), "error|6|2500000|2097152|1000|402848|206|1|127.0.0.1|abc|def0");
  EXPECT_EQ(data.ToTransferError(), TransferError::ChecksumMismatch);
  EXPECT_EQ(data.GetCause(),
            "bin/app bytes 2097152-2499999 from 127.0.0.1: CRC-32 def0, expected abc");
  // Bytes that kept the CRC-32 but not the SHA-256 say so; the node that sent
  // them is named as the node list names it.
  chunk->lastNode = Nodes("/p/")->GetNodes().at(1);
  EXPECT_EQ(ChecksumStatusData(0xabc, chunk, true).GetCause(),
            "bin/app bytes 2097152-2499999 from node b (https://t:8443) at 127.0.0.1: SHA-256 "
            "mismatch (CRC-32 matches)");
  // Later attempts do not change what was reported.
  chunk->badNodeCount = 2;
  EXPECT_EQ(data.GetMessage(), "error|6|2500000|2097152|1000|402848|206|1|127.0.0.1|abc|def0");

  HttpRequestStatus failed(HttpRequestResult::ServerError, 0);
  failed.errorMessage = "libcurl error 22 (HTTP 503)";
  EXPECT_EQ(HttpTransferStatusData("h", failed, 5).GetMessage(),
            "error|2|8|libcurl error 22 (HTTP 503)");
  EXPECT_EQ(
      HttpTransferStatusData("h", HttpRequestStatus(HttpRequestResult::Success), 5).GetMessage(),
      "");
}

TEST(ChunkRecordsTest, UrlsAndRangesOfARequest) {
  OptimizedRequestParams params;
  EXPECT_THROW(params.ToUrl(), std::invalid_argument);
  params.nodeList = Nodes("/packages/");
  params.candidates = params.nodeList->GetNodes();
  params.transferParams.partnerId = "p";
  params.transferParams.packageId = "g";
  params.transferParams.versionId = "v 1";
  params.filePath = "/bin/app.exe";
  auto chunk = std::make_shared<ChunkBounds>();
  chunk->lowerBound = 1048576;
  chunk->upperBound = 2097151;
  params.ChunkData = chunk;
  params.SelectedNode = params.candidates[0];
  EXPECT_EQ(params.ToUrl(), "http://h:81/packages/p/g/v%201/bin/app.exe");
  // Characters that would start a query, a fragment or a scheme stay in the path.
  params.filePath = "c:x/a#b?c%d";
  EXPECT_EQ(params.ToUrl(), "http://h:81/packages/p/g/v%201/c:x/a%23b%3Fc%25d");
  // A node whose host names https is asked over TLS.
  params.SelectedNode = params.candidates[1];
  EXPECT_EQ(params.ToUrl(), "https://t:8443/packages/p/g/v%201/c:x/a%23b%3Fc%25d");
  params.SelectedNode = params.candidates[0];
  params.connectTimeout = 3;
  params.timeout = 20;
  const HttpRequestParams request = params.ToRequestParams(nullptr);
  EXPECT_EQ(request.rangeStart, 1048576u);
  EXPECT_EQ(request.rangeEnd, 2097151u);
  EXPECT_EQ(request.connectTimeout, 3);
  EXPECT_EQ(request.timeout, 20);

  // Rotation: each node once, then all again.
  params.DropSelectedNode();
  ASSERT_EQ(params.candidates.size(), 1u);
  params.SelectedNode = params.candidates[0];
  params.DropSelectedNode();
  EXPECT_EQ(params.candidates.size(), 2u);
}

}  // namespace
}  // namespace velmo
