// Upgrade steps 1.0.0.0.22 to 1.0.0.0.31.
//
// Every text is sent exactly as written here (see steps_0_to_7.cpp), the doubled
// blanks after "add" and around "DROP constraint" included.
#include "steps.h"

namespace upgrade::ladder::steps {

// clang-format off

void from22(Body& b) {
  b.plain("ALTER Table xfxm add xmUse int Default 0,xmLsc bit");
  b.plain("update xfxm set xmUse=0");
}

void from23(Body& b) {
  b.plain("ALTER Table xtcs add  Zmvalue varchar(50),Bitvalue bit,Bitvalue1 bit");
}

void from24(Body& b) {
  b.plain("ALTER Table Time_Fee add  Brzsj datetime,Qrzsj datetime");
}

void from25(Body& b) {
  b.plain("ALTER Table Time_Fee add  QrzFee bit");
}

void from26(Body& b) {
  b.plain("ALTER Table Sph add  ReDeskstatus varchar(50),ReDeskusing varchar(50),yzsj Datetime,Gyfsj Datetime,sptip varchar(150),Spgyf bit");
  b.plain("ALTER Table JzSph add  ReDeskstatus varchar(50),ReDeskusing varchar(50),yzsj Datetime,Gyfsj Datetime,sptip varchar(150),Spgyf bit");
  b.plain("ALTER Table TBFXf add  Jssj Datetime");
  b.plain("ALTER Table BFXf add  Jssj Datetime");
  b.plain("update Sph set Gyfsj=Deskstart,yzsj=Deskstart,spgyf=0");
  b.plain("update JzSph set Gyfsj=Deskstart,yzsj=Deskstart,spgyf=0");
  b.plain("update BFXf set Jssj=KFsj");
  b.plain("update TBFXf set Jssj=KFsj");
  b.plain("ALTER Table xtcs add  Datevalue1 datetime,Datevalue2 datetime,Intvalue1 int");
}

void from27(Body& b) {
  b.plain("Create Table spjfxm(spjfbm varchar(50),spjfmc varchar(50),spjflx varchar(50))");
}

void from28(Body& b) {
  b.plain("ALTER Table xtcs add  Zmvalue1 varchar(50)");
  // The key that step 1.0.0.0.17 may or may not have managed to add.
  b.tolerant("ALTER TABLE lbxf  DROP constraint  Pkid");
  b.plain("ALTER Table UserQx add xftd bit,xfsc bit");
  b.plain("Update UserQx set xftd=0,xfsc=0");
  b.plain("Update UserQx set xmfltj=1,xftd=1,xfsc=1 where Usercode=" + quoted("Admin"));
}

void from29(Body& b) {
  b.plain("Create table Card_Tcsz(Cardid int IDENTITY(1,1),Cardzw varchar(50),Carddj varchar(50),Cardsj varchar(50),Cardlb varchar(50),Cardfs varchar(50),Cardje decimal(18,2),Cardcj datetime,Cardxg datetime,Cardcjr varchar(50),Cardxgr varchar(50))");
  b.continued({
      "Create table Card_Tcmx(Cardid int IDENTITY(1,1),Tcdh varchar(50),ygdm varchar(50),ygxm varchar(50),ygpym varchar(50),sktcd varchar(50),sklb varchar(50),sktcje decimal(18,2),sksj datetime,skjbsj datetime,skbc varchar(50),skrj datetime ",
      ",skr varchar(50),skid varchar(50))",
  });
  b.plain("ALTER Table zkfs add zkBeg datetime,zkend datetime");
  b.plain("ALTER Table hy add cxry  varchar(50)");
}

void from30(Body& b) {
  b.plain("ALTER Table hy add cscs  int");
  // Items whose name holds 浴资 (bath fee) anywhere are flagged, all others cleared.
  b.plain("ALTER Table xfxm add xmjc bit");
  b.plain("update xfxm set xmjc=0");
  b.plain("update xfxm set xmjc=1 where xmmc like " + quoted("%浴资%"));
  b.plain("Insert into Fkfs(Fkfsmc,fkfspl,FKbm,Status,Fkfsqy,cjr) values(" + quoted("挂账") + ",6," + quoted("06") + ",1," + quoted("启用") + "," + quoted("Admin") + ")");
  b.plain("Insert into Fkfs(Fkfsmc,fkfspl,FKbm,Status,Fkfsqy,cjr) values(" + quoted("次卡") + ",7," + quoted("07") + ",1," + quoted("启用") + "," + quoted("Admin") + ")");
}

// clang-format on

}  // namespace upgrade::ladder::steps
