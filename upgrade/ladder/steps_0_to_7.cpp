// Upgrade steps 1.0.0.0.0 to 1.0.0.0.7.
//
// The suite's other programs read the schema these statements leave behind, so
// every text is sent exactly as written here: letter case, blanks at the end of a
// text, doubled blanks and the Chinese names included. Each statement stays one
// literal on one line so that it can be read against the statement list.
#include "steps.h"

namespace upgrade::ladder::steps {

// clang-format off

void from0(Body& b) {
  b.continued({
      "Update UserQx set zjxf=1,sfjz=1,hbsp=1,cfsp=1,spgh=1,sptd=1,xfcx=1,xgzd=1,bdsfd=1,bdqxd=1,sfqx=1,xmxscx=1,fkfsmx=1,jzdcx=1,fwtccx=1,bmwh=1",
      ",spsz=1,xmflsz=1,xmsz=1,ygsz=1,yhsz=1,sydsz=1,xtwh=1,fkfssz=1,smsz=1,dysz=1,fwqpz=1,xtcssz=1,xtcsh=1",
      " where Usercode=" + quoted("Admin"),
  });
  b.plain("ALTER Table Hycz add Czrjsj datetime,Czjbsj datetime");
  b.plain("ALTER Table Hy add xfsj datetime");
  b.plain("Drop table 消费明细");
  b.plain("Create table zkfs(zkfsbm varchar(50),zkfsmc varchar(100),zkbl float,djlb varchar(50),visible int,jzxz bit,jzmr bit)");
  b.plain("Insert into zkfs(zkfsbm,zkfsmc,zkbl,djlb,visible,jzxz,jzmr) values(" + quoted("0000") + "," + quoted("无折扣") + ",1," + quoted("NORMAL") + ",0,1,1)");
  b.plain("Insert into zkfs(zkfsbm,zkfsmc,zkbl,djlb,visible,jzxz,jzmr) values(" + quoted("0001") + "," + quoted("无折扣") + ",1," + quoted("VIP") + ",0,1,1)");
  b.plain("Drop table 折扣方案");
  // zkmx takes the layout of the discount details, not their rows: they are
  // emptied first and the old table goes afterwards.
  b.plain("Delete from 折扣明细 ");
  b.plain("select * into zkmx from 折扣明细 ");
  b.plain("Drop table 折扣明细");
}

void from1(Body& b) {
  b.plain("ALTER Table UserQx add zksz bit,hy_fk bit,hy_xgsc bit,hy_cz bit,hy_hk bit,hy_qx bit,hy_czd bit,hy_hycx bit");
  b.continued({
      "Update UserQx set zksz=1,hy_fk=1,hy_xgsc=1,hy_cz=1,hy_hk=1,hy_qx=1,hy_czd=1,hy_hycx=1 ",
      " where Usercode=" + quoted("Admin"),
  });
  b.continued({
      "ALTER Table Syd add sy_xdh bit,sy_jsgh bit,sy_fwgh bit,sy_fp bit,sy_jb bit,sy_rj bit,sy_csh bit,sy_bf bit",
      " ,sy_dyj bit,sy_dyjmc varchar(250),sy_Paper varchar(10),Sy_fs int,sy_Box bit,Sy_bt1 varchar(100),Sy_bt2 varchar(100),Sy_wz1 varchar(100),Sy_wz2 varchar(100)",
  });
  b.plain("Create table Day_end(id int IDENTITY(1,1) ,day_czy varchar(50),day_Top datetime,day_end datetime,day_cur datetime,Day_Rematk varchar(255))");
}

// clang-format on

// The bathing category must exist once a database is at "1.0.0.0.2", however it got
// there; the driver writes "1.0.0.0.2" again afterwards. Only an exact count of 0
// inserts, so a database that already holds the row (or several) is left alone.
void ensureBathingCategory(Body& b) {
  StepQuery& q = b.query();
  q.close();
  q.clear();
  q.addLine("select * from xmlb where kinid=" + quoted("XYL") + " and Parent=" + quoted("XMFL"));
  q.open();
  if (q.rowCount() == 0) {
    // clang-format off
    b.plain("Insert into xmlb(kinid,kindname,Parent,sign,leve,SRemark) values(" + quoted("XYL") + "," + quoted("洗浴类") + "," + quoted("XMFL") + "," + quoted("0") + ",0," + quoted("XYL") + ")");
    // clang-format on
  }
}

// clang-format off

void from2(Body& b) {
  b.plain("ALTER Table Syd add NoPrint bit");
}

void from3(Body& b) {
  b.plain("ALTER Table Syd add NoShoe_Print bit,Shoe_bt1 varchar(50),Shoe_BT2 varchar(50),Shoe_wz1 varchar(50),Shoe_wz2 varchar(50)");
}

void from4(Body& b) {
  // The consumption tables of guest rooms and the deposit table. BFXf and TBFXf
  // share their column list; the second lines are the same text.
  constexpr std::string_view kGuestConsumptionTail =
      " ,BfKH varchar(15),KHZJ varchar(50),KHZJHM varchar(50),KHTEL  varchar(100),BFBZ varchar(250),Bfzdh varchar(20),Bfjb datetime,BFrj datetime)";

  b.plain("ALTER Table Syd add sy_fpqr bit,KF_dyjmc varchar(250),KF_Paper varchar(10),KF_fs int,KF_bt1 varchar(100),KF_bt2 varchar(100),KF_wz1 varchar(100),KF_wz2 varchar(100),BF_Print bit");
  b.continued({
      "Create table BFH(BF_id int IDENTITY(1,1),BF_bm varchar(50),bf_mc varchar(50),BF_CJ datetime,BF_xg datetime,BF_Czy varchar(20),Bf_lx varchar(20),BF_syd varchar(20),BF_Tel varchar(50),BF_Key varchar(20),BF_LD varchar(30),BF_LC varchar(20),BF_Bed varchar(20)",
      " ,BF_ZF varchar(100),BF_Bf varchar(100),Bf_Mk bit Default 0,Bf_Remark  varchar(250),BF_Status int,BF_Start datetime)",
  });
  b.plain("Create table BFLB(BFLb_id varchar(15),BFLB_mc varchar(50),BFLB_Cj datetime,BFLB_xg datetime,BFLB_Czy varchar(20))");
  b.continued({
      "Create table BFXf(BFid varchar(50),BFbm varchar(50),KFsj datetime,BFCzy varchar(20),Bflx varchar(20),BFsyd varchar(20),Bfsph varchar(20),BFmd int,BFTJ int,TJsj datetime,djh varchar(20),BFFwGh varchar(20),BFFwxm varchar(20)",
      kGuestConsumptionTail,
  });
  b.continued({
      "Create table TBFXf(BFid varchar(50),BFbm varchar(50),KFsj datetime,BFCzy varchar(20),Bflx varchar(20),BFsyd varchar(20),Bfsph varchar(20),BFmd int,BFTJ int,TJsj datetime,djh varchar(20),BFFwGh varchar(20),BFFwxm varchar(20)",
      kGuestConsumptionTail,
  });
  b.plain("ALTER Table lbxf add Bfbh varchar(50)");
  b.plain("ALTER Table Tlbxf add Bfbh varchar(50)");
  b.plain("ALTER Table Syd add sy_Bfdh bit,sy_Bfgh bit,sy_Bfkh bit");
  b.plain("Insert into Bzlb(bzbm,bzmc) values(2," + quoted("客户证件类型") + ")");
  b.plain("Insert into Bzlb(bzbm,bzmc) values(3," + quoted("押金管理备注") + ")");
  b.plain("Insert into Table_id(code,lb) values(" + quoted("0000000000") + "," + quoted("KFDJ") + ")");
  b.continued({
      "Create table BFYfk(Yfk_id int IDENTITY(1,1),Yfk_Sph varchar(50),Yfk_Cj datetime,Yfk_Czy varchar(20),Yfk_Fkfs varchar(20),Yfk_Hyid varchar(20),Yfk_Zdh varchar(20),Yfk_djh varchar(20),Yfk_je float,Yfk_Syd varchar(20),",
      " Yfk_Remark varchar(200),YFk_dycs int,Yfk_jB datetime,Yfkrj datetime)",
  });
}

void from5(Body& b) {
  b.plain("ALTER Table hy add czy varchar(50),jbsj datetime,rjsj datetime,jbbc varchar(50) default " + quoted("*"));
  b.plain("ALTER Table UserQx add qt_rj bit,czy_jb bit,czy_JBls bit");
  b.plain("Update UserQx set qt_rj=0,czy_jb=0,czy_JBls=0 ");
  b.continued({
      "Update UserQx set qt_rj=1,czy_jb=1,czy_JBls=1 ",
      " where Usercode=" + quoted("Admin"),
  });
  b.plain("Create Table hbgl(Hbid varchar(50),begtime datetime,endtime datetime,jbgh varchar(50))");
  b.plain("ALTER Table hycz add Czjbbc varchar(50) default " + quoted("*"));
  b.plain("ALTER Table BFH add Bf_jbbc varchar(50) default " + quoted("*") + ",Bf_jb datetime,Bf_rj datetime");
  b.plain("ALTER Table BFXf add BFjbbc varchar(50) default " + quoted("*"));
  b.plain("ALTER Table TBFXf add BFjbbc varchar(50) default " + quoted("*"));
  b.plain("ALTER Table Ygtcmx add Tcjbbc varchar(50) default " + quoted("*"));
}

void from6(Body& b) {
  b.plain("ALTER Table Jzsph add spjbsj datetime,sprjsj datetime,spjbbc varchar(50) default " + quoted("*"));
}

// clang-format on

}  // namespace upgrade::ladder::steps
